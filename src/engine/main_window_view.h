// MainWindowView: what the look-up engine may use of the main window.
//
// The engine and the settings walk reach the window only through this
// interface; the Qt window implements it, tests implement it with a plain
// fake. Controls are addressed by their names (UTF-8, as the window's object
// names); every text value crossing this interface is GBK text, and reading a
// property returns exactly the text last written to it.
#pragma once

#include <string_view>

#include "engine/row_story.h"
#include "platform/text.h"

namespace qarvo {

// Names of the main window's controls that the engine touches.
namespace control {
inline constexpr std::string_view kStartButton = "按钮开始查询";
inline constexpr std::string_view kInputButton = "按钮输入";
inline constexpr std::string_view kAizhanRadio = "单选框爱站";
inline constexpr std::string_view kChinazRadio = "单选框站长";
inline constexpr std::string_view kBothRadio = "单选框两者";
inline constexpr std::string_view kMaxPagesEdit = "编辑框最多查询页数";
inline constexpr std::string_view kIntervalEdit = "编辑框间隔秒";
inline constexpr std::string_view kSaveResultsButton = "按钮保存查询结果";
inline constexpr std::string_view kExportButton = "按钮导出表格";
inline constexpr std::string_view kAutoSaveCheck = "选择框查询时自动保存";
inline constexpr std::string_view kAutoSaveFolderButton = "按钮自动保存路径";
inline constexpr std::string_view kSkipRecentCheck = "选择框跳过查过的邮箱";
inline constexpr std::string_view kSkipDaysEdit = "编辑框跳过天数";
inline constexpr std::string_view kReportList = "超级列表框";
inline constexpr std::string_view kBrowser = "浏览器";
inline constexpr std::string_view kHomePageLink = "链接软件主页";
}  // namespace control

// Message box styles and answers, as the values of the Windows message box
// (the program's operations name them so).
namespace mb {
inline constexpr unsigned kOk = 0x0;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kIconInformation = 0x40;
inline constexpr unsigned kDefaultButton2 = 0x100;  // Return answers 否 (No)
inline constexpr unsigned kSystemModal = 0x1000;
inline constexpr unsigned kTaskModal = 0x2000;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
}  // namespace mb

class MainWindowView {
 public:
  virtual ~MainWindowView() = default;

  // Control properties. An unknown control reads as empty / false.
  virtual Text caption(std::string_view control) const = 0;
  virtual void setCaption(std::string_view control, const Text& caption) = 0;
  virtual Text content(std::string_view control) const = 0;  // edit box text
  virtual void setContent(std::string_view control, const Text& content) = 0;
  virtual Text tag(std::string_view control) const = 0;
  virtual void setTag(std::string_view control, const Text& tag) = 0;
  virtual bool checked(std::string_view control) const = 0;
  virtual void setChecked(std::string_view control, bool checked) = 0;
  virtual bool visible(std::string_view control) const = 0;
  virtual void setVisible(std::string_view control, bool visible) = 0;
  virtual bool enabled(std::string_view control) const = 0;
  virtual void setEnabled(std::string_view control, bool enabled) = 0;

  // The report list 超级列表框. Rows are 0-based; -1 = no selection.
  virtual bool isReportView() const = 0;
  virtual int columnCount() const = 0;
  virtual int rowCount() const = 0;
  virtual int appendRow(const Text& firstColumn, int image) = 0;  // returns the new index
  virtual void deleteAllRows() = 0;
  virtual Text cellText(int row, int column) const = 0;
  virtual void setCellText(int row, int column, const Text& text) = 0;
  virtual int rowImage(int row) const = 0;
  virtual void setRowImage(int row, int image) = 0;
  virtual void ensureRowVisible(int row) = 0;
  virtual int selectedRow() const = 0;
  // A row's identity: it stays with the row's entry while rows around it
  // come and go, and is never given to another row of the list. -1 for a
  // row that does not exist; rowOfId gives -1 once the row is gone. A view
  // whose rows never move may use the position.
  virtual long long rowId(int row) const { return row >= 0 && row < rowCount() ? row : -1; }
  virtual int rowOfId(long long id) const {
    return id >= 0 && id < rowCount() ? static_cast<int>(id) : -1;
  }
  // A note on a row that is not part of its cells: why its look-up did not
  // complete, or that a completed one stopped at the page limit. The window
  // shows it with the row; it is never saved in the text files.
  virtual Text rowNote(int row) const {
    (void)row;
    return Text();
  }
  virtual void setRowNote(int row, const Text& note) {
    (void)row;
    (void)note;
  }
  // What a look-up tells of a row beyond its cells and note (row_story.h):
  // shown with the row, never saved or copied with its domains.
  virtual RowStory rowStory(int row) const {
    (void)row;
    return RowStory();
  }
  virtual void setRowStory(int row, const RowStory& story) {
    (void)row;
    (void)story;
  }

  // The embedded browser 浏览器 (created on first use by the window).
  // False when there is no browser to show (it could not start; the window
  // has told the user why).
  virtual bool browserNavigate(const std::string& url) = 0;
  // What the banner above the browser tells the user to do there (GBK).
  virtual void setBrowserBanner(const Text& text) { (void)text; }
  virtual Text browserCookieText() = 0;  // "name=value; ..." of the loaded site

  // Desktop services.
  // Shows a message box; `style` combines the mb:: values; `ownerless` boxes
  // leave the main window (and the browser) usable while they are open.
  // Returns the button pressed (mb::kIdOk, kIdYes, kIdNo).
  virtual int messageBox(const Text& text, const Text& title, unsigned style, bool ownerless) = 0;
  virtual void beep() = 0;
  virtual Text clipboardText() = 0;
  // The folder dialog: returns the chosen folder, or empty text on cancel.
  virtual Text chooseFolder(const Text& initialPath, const Text& title, unsigned flags) = 0;
  // The save-file dialog: returns the file chosen, or empty text on cancel.
  // An existing file is chosen only once the user agreed to replace it.
  virtual Text chooseSaveFile(const Text& initialPath, const Text& title) = 0;
  // Opens a URL or a file with the desktop's default handler.
  virtual void openDocument(const std::string& target) = 0;
  // Opens a folder in the desktop's file manager, or starts a program.
  virtual bool openFolder(const Text& folder) = 0;
  virtual bool startProgram(const Text& path) = 0;
};

}  // namespace qarvo
