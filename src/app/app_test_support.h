// Helpers of the window tests: a scratch program folder, answered message
// boxes, and waiting on the event loop for a condition (never for a time).
#pragma once

#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/message_box.h"
#include "platform/native_file.h"
#include "settings/scratch_folder.h"

namespace qarvo::apptest {

// A fresh program folder (settings file, result folders) for one test.
class ScratchProgramFolder {
 public:
  ScratchProgramFolder() { setProgramDirectory(folder_.gbkPath()); }
  ~ScratchProgramFolder() { setProgramDirectory(Text()); }
  const ScratchFolder& folder() const { return folder_; }
  std::string native(const std::string& utf8Name = std::string()) const {
    return utf8Name.empty() ? folder_.nativePath() : folder_.nativePath() + "/" + utf8Name;
  }

 private:
  ScratchFolder folder_;
};

// Records every message box shown through the message-box seam and answers
// from a queue (OK when the queue is empty). Install after the window is made
// (the window installs the real boxes).
class MessageBoxRecorder {
 public:
  struct Call {
    std::string text;  // UTF-8
    std::string title;
    unsigned style = 0;
  };
  MessageBoxRecorder() {
    setMessageBoxHandler([this](const Text& text, const Text& title, unsigned style) {
      calls.push_back({gbkToUtf8(text), gbkToUtf8(title), style});
      if (onShow)
        onShow(calls.back());
      if (answers.empty())
        return 1;
      int answer = answers.front();
      answers.pop_front();
      return answer;
    });
  }
  ~MessageBoxRecorder() { setMessageBoxHandler(nullptr); }

  std::vector<Call> calls;
  std::deque<int> answers;
  std::function<void(const Call&)> onShow;
};

// How long a window test waits for the window system. Generous: on a loaded
// machine what takes milliseconds can take seconds, and a wait on a condition
// ends as soon as the condition holds.
constexpr int kWindowTimeoutMs = 30000;

// Runs the event loop until `done` holds or `timeoutMs` passes.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = kWindowTimeoutMs) {
  return QTest::qWaitFor(done, timeoutMs);
}

// Waits until `window` is on screen and is the active window. The window
// system activates a shown window some time after it is exposed; focus and
// keyboard checks before that fail at random.
inline bool waitForActiveWindow(QWidget* window) {
  return QTest::qWaitForWindowExposed(window, kWindowTimeoutMs) &&
         QTest::qWaitForWindowActive(window, kWindowTimeoutMs);
}

inline std::string readFile(const std::string& path) {
  std::string bytes;
  if (!readWholeFile(utf8ToGbk(path), &bytes))
    return "<missing>";
  return bytes;
}

}  // namespace qarvo::apptest
