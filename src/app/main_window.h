// The main window: the address list, the two services, the limits, the
// auto-save switch and folder, and the report list with the results.
//
// Controls carry the names of the window's form as object names and sit at
// fixed positions. The window implements MainWindowView for the look-up
// engine, turns each control event into one engine call, animates the header
// logo on its 20 ms timer, and hosts the embedded browser, created on first
// use.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/lookup_engine.h"
#include "engine/main_window_view.h"
#include "settings/control_list.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace qarvo {

class BrowserPane;
class SettingsStore;

inline constexpr char kMainWindowTitle[] = "Qarvo·Dorvane v1.2.0.0 - 右击单个查询";
inline constexpr char kHomePageUrl[] = "http://dorvane.qarvo.example/";
inline constexpr char kContactPageUrl[] = "http://qarvo.example/contact";

class MainWindow : public QWidget, public MainWindowView {
  Q_OBJECT

 public:
  // `settings` (may be null) is restored into the controls here, in the
  // window's "created" step, and written back when the window closes.
  explicit MainWindow(SettingsStore* settings, ServiceEndpoints endpoints = {},
                      QWidget* parent = nullptr);
  ~MainWindow() override;

  LookupEngine& engine() { return engine_; }
  // A control by its form name, or nullptr.
  QWidget* control(std::string_view name) const;
  // Controls in the order of the window's form (the order settings are kept).
  const std::vector<QWidget*>& controlsInFormOrder() const { return formOrder_; }
  // The same controls as the settings walk sees them.
  ControlList& formControls();
  QTreeWidget* reportList() const { return list_; }
  BrowserPane* browserPane() const { return browser_; }

  // How URLs and files are handed to the desktop (tests record them instead).
  using DocumentOpener = std::function<bool(const QUrl&)>;
  void setDocumentOpener(DocumentOpener opener) { openDocument_ = std::move(opener); }
  // What ends the process when the window closes during a look-up and the
  // look-up does not wind down by itself within a moment. The program exits;
  // tests leave it empty.
  void setCloseWatchdog(std::function<void()> endProcess) { endProcess_ = std::move(endProcess); }
  // True while a click's work (a run, a single query, a save ...) is under way.
  bool busy() const { return busyDepth_ > 0; }
  bool closing() const { return closing_; }

  // The header logo's animation state.
  bool logoMovingRight() const { return logoMovingRight_; }
  void animateHeader();
  // The animation runs only while the window can be seen.
  bool headerAnimationRunning() const;

  // The line at the bottom of the window that says what a run is doing.
  QLabel* statusLine() const { return statusLine_; }
  // The line above the browser pane while it is shown for the sign-in.
  QLabel* signInBanner() const { return signInBanner_; }
  // The selected rows as text: address, tab, the domains one per line.
  QString selectedRowsText() const;

  // MainWindowView.
  Text caption(std::string_view control) const override;
  void setCaption(std::string_view control, const Text& caption) override;
  Text content(std::string_view control) const override;
  void setContent(std::string_view control, const Text& content) override;
  Text tag(std::string_view control) const override;
  void setTag(std::string_view control, const Text& tag) override;
  bool checked(std::string_view control) const override;
  void setChecked(std::string_view control, bool checked) override;
  bool visible(std::string_view control) const override;
  void setVisible(std::string_view control, bool visible) override;
  bool enabled(std::string_view control) const override;
  void setEnabled(std::string_view control, bool enabled) override;
  bool isReportView() const override { return true; }
  int columnCount() const override;
  int rowCount() const override;
  int appendRow(const Text& firstColumn, int image) override;
  void deleteAllRows() override;
  Text cellText(int row, int column) const override;
  void setCellText(int row, int column, const Text& text) override;
  int rowImage(int row) const override;
  void setRowImage(int row, int image) override;
  void ensureRowVisible(int row) override;
  int selectedRow() const override;
  long long rowId(int row) const override;
  int rowOfId(long long id) const override;
  bool browserNavigate(const std::string& url) override;
  Text rowNote(int row) const override;
  void setRowNote(int row, const Text& note) override;
  Text browserCookieText() override;
  int messageBox(const Text& text, const Text& title, unsigned style, bool ownerless) override;
  void beep() override;
  Text clipboardText() override;
  Text chooseFolder(const Text& initialPath, const Text& title, unsigned flags) override;
  void openDocument(const std::string& target) override;
  bool openFolder(const Text& folder) override;
  bool startProgram(const Text& path) override;

  using QWidget::setEnabled;
  using QWidget::setVisible;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void bindEvents();
  void created();
  void applyAutoSaveRule();
  void onInputButton();
  void saveControlStates();
  // Runs one click's work, counting it as busy; a close during it ends the
  // process once the work has unwound.
  template <typename Work>
  void runWork(Work&& work);
  void add(QWidget* widget, const char* name);
  void updateHeaderAnimation();
  void onHeaderClicked(int column);
  void onProgress(const LookupProgress& progress);
  void showStatus();
  void refreshAddressTip(int row);
  void keepAcceptableNumber(QLineEdit* edit);

  class FormControls;

  SettingsStore* settings_;
  std::unique_ptr<FormControls> formControls_;
  LookupEngine engine_;
  std::map<std::string, QWidget*, std::less<>> controls_;
  std::vector<QWidget*> formOrder_;

  QWidget* header_ = nullptr;
  QLabel* logo_ = nullptr;
  QLabel* homeLink_ = nullptr;
  QTimer* headerTimer_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* folderButton_ = nullptr;
  QTreeWidget* list_ = nullptr;
  BrowserPane* browser_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QLabel* signInBanner_ = nullptr;
  QTimer* countdownTimer_ = nullptr;

  // The status line: what is being done, the pause under way, the tallies.
  QString statusText_;
  QString pauseText_;
  int pauseMs_ = 0;
  QElapsedTimer pauseClock_;
  QString tallyText_;
  // The list follows the row being looked up until the user scrolls it.
  bool followCurrentRow_ = true;
  // Row identities for the engine: id -> item, kept until the list is emptied.
  QHash<long long, QTreeWidgetItem*> rowsById_;
  long long nextRowId_ = 0;

  bool logoMovingRight_ = true;
  int busyDepth_ = 0;
  bool closing_ = false;
  bool statesSaved_ = false;
  bool browserFailureShown_ = false;
  DocumentOpener openDocument_;
  std::function<void()> endProcess_;
};

}  // namespace qarvo
