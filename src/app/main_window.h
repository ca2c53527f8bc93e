// The main window: the address list, the two services, the limits, the
// auto-save switch and folder, and the report list with the results.
//
// Controls carry the names of the window's form as object names and sit at
// fixed positions. The window implements MainWindowView for the look-up
// engine, turns each control event into one engine call, animates the header
// logo on its 20 ms timer, and hosts the embedded browser, created on first
// use.
//
// The rows of the report list are ResultList's, the line under it is
// StatusLine's. main_window_controls.cpp holds the control properties,
// main_window_desktop.cpp the browser pane and the desktop services.
#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/result_list.h"
#include "app/status_line.h"
#include "engine/lookup_engine.h"
#include "engine/main_window_view.h"
#include "settings/control_list.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;

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
  QTreeWidget* reportList() const { return results_->widget(); }
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
  // Ctrl+H: the selected row's address in the history (address_history.cpp).
  void showRowHistory();

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
  // The report list's rows are the result list's (result_list.h).
  int columnCount() const override { return results_->columnCount(); }
  int rowCount() const override { return results_->rowCount(); }
  int appendRow(const Text& firstColumn, int image) override {
    return results_->appendRow(firstColumn, image);
  }
  void deleteAllRows() override { results_->deleteAllRows(); }
  Text cellText(int row, int column) const override { return results_->cellText(row, column); }
  void setCellText(int row, int column, const Text& text) override {
    results_->setCellText(row, column, text);
  }
  int rowImage(int row) const override { return results_->rowImage(row); }
  void setRowImage(int row, int image) override { results_->setRowImage(row, image); }
  void ensureRowVisible(int row) override { results_->ensureRowVisible(row); }
  int selectedRow() const override { return results_->selectedRow(); }
  long long rowId(int row) const override { return results_->rowId(row); }
  int rowOfId(long long id) const override { return results_->rowOfId(id); }
  Text rowNote(int row) const override { return results_->rowNote(row); }
  void setRowNote(int row, const Text& note) override { results_->setRowNote(row, note); }
  RowStory rowStory(int row) const override { return results_->rowStory(row); }
  void setRowStory(int row, const RowStory& story) override { results_->setRowStory(row, story); }
  // The browser pane and the desktop (main_window_desktop.cpp).
  bool browserNavigate(const std::string& url) override;
  void setBrowserBanner(const Text& text) override;
  Text browserCookieText() override;
  int messageBox(const Text& text, const Text& title, unsigned style, bool ownerless) override;
  void beep() override;
  Text clipboardText() override;
  Text chooseFolder(const Text& initialPath, const Text& title, unsigned flags) override;
  Text chooseSaveFile(const Text& initialPath, const Text& title) override;
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
  void keepAcceptableNumber(QLineEdit* edit);
  void placeBrowser();
  // Shows or hides the browser pane with the sign-in banner over it.
  void showSignInPane(bool on);

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
  std::unique_ptr<ResultList> results_;
  BrowserPane* browser_ = nullptr;
  StatusLine* statusLine_ = nullptr;
  QLabel* signInBanner_ = nullptr;

  bool logoMovingRight_ = true;
  int busyDepth_ = 0;
  bool closing_ = false;
  bool statesSaved_ = false;
  bool browserFailureShown_ = false;
  DocumentOpener openDocument_;
  std::function<void()> endProcess_;
};

}  // namespace qarvo
