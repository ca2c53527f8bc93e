// HeadlessWindowView: the main window as the look-up engine sees it, without
// a display.
//
// The command-line front end drives the same engine as the window. Controls
// are plain values (the service radio buttons, the page limit and interval
// edit boxes); the report list holds the rows of the look-ups in progress.
// There is no browser: a navigation reports false, so a 站长 look-up that
// needs the sign-in ends without it. Message boxes are written to standard
// error (through the sink given) and answered with OK; there is no clipboard, beep, folder
// dialog or file manager.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/main_window_view.h"

namespace qarvo::cli {

class HeadlessWindowView : public MainWindowView {
 public:
  // Gets the text of every message box, in UTF-8 with LF line ends.
  using MessageSink = std::function<void(const std::string& text)>;
  explicit HeadlessWindowView(MessageSink messages) : messages_(std::move(messages)) {}

  Text caption(std::string_view control) const override { return read(captions_, control); }
  void setCaption(std::string_view control, const Text& caption) override;
  Text content(std::string_view control) const override { return read(contents_, control); }
  void setContent(std::string_view control, const Text& content) override;
  Text tag(std::string_view control) const override { return read(tags_, control); }
  void setTag(std::string_view control, const Text& tag) override;
  bool checked(std::string_view control) const override;
  void setChecked(std::string_view control, bool checked) override;
  bool visible(std::string_view control) const override;
  void setVisible(std::string_view control, bool visible) override;
  bool enabled(std::string_view control) const override;
  void setEnabled(std::string_view control, bool enabled) override;

  bool isReportView() const override { return true; }
  int columnCount() const override { return 2; }
  int rowCount() const override { return static_cast<int>(rows_.size()); }
  int appendRow(const Text& firstColumn, int image) override;
  void deleteAllRows() override { rows_.clear(); }
  Text cellText(int row, int column) const override;
  void setCellText(int row, int column, const Text& text) override;
  int rowImage(int row) const override;
  void setRowImage(int row, int image) override;
  void ensureRowVisible(int) override {}
  int selectedRow() const override { return -1; }
  Text rowNote(int row) const override;
  void setRowNote(int row, const Text& note) override;

  bool browserNavigate(const std::string&) override { return false; }
  Text browserCookieText() override { return Text(); }

  int messageBox(const Text& text, const Text& title, unsigned style, bool ownerless) override;
  void beep() override {}
  Text clipboardText() override { return Text(); }
  Text chooseFolder(const Text&, const Text&, unsigned) override { return Text(); }
  void openDocument(const std::string&) override {}
  bool openFolder(const Text&) override { return false; }
  bool startProgram(const Text&) override { return false; }

 private:
  struct Row {
    Text address;
    Text result;
    Text note;
    int image = 0;
  };
  using Values = std::map<std::string, Text, std::less<>>;
  using Flags = std::map<std::string, bool, std::less<>>;

  static Text read(const Values& values, std::string_view control);
  static bool read(const Flags& flags, std::string_view control, bool fallback);
  Row* rowAt(int row);
  const Row* rowAt(int row) const;

  MessageSink messages_;
  Values captions_, contents_, tags_;
  Flags checked_, visible_, enabled_;
  std::vector<Row> rows_;
};

}  // namespace qarvo::cli
