// FakeMainWindowView: a plain in-memory main window for engine tests.
//
// Every control property is a map entry keyed by the control's name; the
// report list is a vector of rows. Desktop services (message boxes, the
// browser, dialogs, the file manager) are recorded, and tests may answer them
// through the optional hooks. Nothing here touches a real display.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/main_window_view.h"

namespace qarvo {

class FakeMainWindowView : public MainWindowView {
 public:
  struct Row {
    std::vector<Text> cells;
    int image = -1;
    Text note;
    RowStory story;
    long long id = -1;  // the row's identity; not part of its content
    bool operator==(const Row& other) const {
      return cells == other.cells && image == other.image && note == other.note;
    }
  };
  struct MessageBoxCall {
    Text text;
    Text title;
    unsigned style = 0;
    bool ownerless = false;
  };
  struct FolderDialogCall {
    Text initialPath;
    Text title;
    unsigned flags = 0;
  };

  // Sets up the controls the way the window shows them at first start:
  // 爱站 checked, "50" pages, "0" seconds, auto-save ticked, two columns.
  FakeMainWindowView();

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

  bool isReportView() const override { return reportView; }
  int columnCount() const override { return columns; }
  int rowCount() const override { return static_cast<int>(rows.size()); }
  int appendRow(const Text& firstColumn, int image) override;
  void deleteAllRows() override { rows.clear(); }
  Text cellText(int row, int column) const override;
  void setCellText(int row, int column, const Text& text) override;
  int rowImage(int row) const override;
  void setRowImage(int row, int image) override;
  void ensureRowVisible(int row) override { lastVisibleRow = row; }
  int selectedRow() const override { return selection; }
  long long rowId(int row) const override {
    return row >= 0 && row < rowCount() ? rows[static_cast<size_t>(row)].id : -1;
  }
  int rowOfId(long long id) const override;
  Text rowNote(int row) const override;
  void setRowNote(int row, const Text& note) override;
  RowStory rowStory(int row) const override {
    return row >= 0 && row < rowCount() ? rows[static_cast<size_t>(row)].story : RowStory();
  }
  void setRowStory(int row, const RowStory& story) override {
    if (row >= 0 && row < rowCount())
      rows[static_cast<size_t>(row)].story = story;
  }

  bool browserNavigate(const std::string& url) override;
  Text browserCookieText() override;

  int messageBox(const Text& text, const Text& title, unsigned style, bool ownerless) override;
  void beep() override { ++beeps; }
  Text clipboardText() override { return clipboard; }
  Text chooseFolder(const Text& initialPath, const Text& title, unsigned flags) override;
  Text chooseSaveFile(const Text& initialPath, const Text& title) override {
    saveFileDialogs.push_back({initialPath, title, 0});
    return saveFileAnswer;
  }
  void openDocument(const std::string& target) override { openedDocuments.push_back(target); }
  bool openFolder(const Text& folder) override;
  bool startProgram(const Text& path) override;

  // Selects the service the way a click on its radio button does.
  void selectAizhan(bool aizhan);
  // Replaces the report list with rows of the given cells (GBK texts), each
  // with the image of a completed look-up (0 with a result, 1 without).
  void setRows(const std::vector<std::vector<Text>>& table);
  // The cells of column `column` of all rows, top to bottom.
  std::vector<Text> columnTexts(int column) const;

  // State, open to the tests.
  std::vector<Row> rows;
  int columns = 2;
  bool reportView = true;
  int selection = -1;
  int lastVisibleRow = -1;
  Text clipboard;
  int beeps = 0;
  std::vector<MessageBoxCall> messageBoxes;
  std::vector<std::string> browserUrls;
  Text browserCookie;            // what the browser's cookie text reads as
  bool browserAvailable = true;  // false: navigating shows nothing
  std::vector<FolderDialogCall> folderDialogs;
  Text folderAnswer;  // what the folder dialog returns (empty = cancel)
  std::vector<FolderDialogCall> saveFileDialogs;
  Text saveFileAnswer;  // what the save-file dialog returns (empty = cancel)
  std::vector<std::string> openedDocuments;
  std::vector<Text> openedFolders;
  std::vector<Text> startedPrograms;
  bool launchSucceeds = true;

  // Optional hooks, called after the call has been recorded.
  std::function<int(const MessageBoxCall&)> onMessageBox;  // returns the button
  std::function<Text()> onBrowserCookieText;               // replaces browserCookie
  std::function<void(int row, int column, const Text& text)> onSetCellText;

 private:
  long long nextRowId_ = 0;
  std::map<std::string, Text, std::less<>> captions_;
  std::map<std::string, Text, std::less<>> contents_;
  std::map<std::string, Text, std::less<>> tags_;
  std::map<std::string, bool, std::less<>> checked_;
  std::map<std::string, bool, std::less<>> visible_;
  std::map<std::string, bool, std::less<>> enabled_;
};

// Installs `pump` as the process's event pump for the lifetime of the object
// (tests use it to click buttons "while" an operation waits). The previous
// pump comes back on destruction. A pump that is already running is not
// entered again, the way a real event loop does not re-deliver the event it
// is handling.
class ScopedEventPump {
 public:
  explicit ScopedEventPump(std::function<void()> pump);
  ~ScopedEventPump();
  ScopedEventPump(const ScopedEventPump&) = delete;
  ScopedEventPump& operator=(const ScopedEventPump&) = delete;

  int calls() const;
};

}  // namespace qarvo
