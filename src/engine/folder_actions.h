// Folder and desktop helpers of the engine: creating the folders on the way
// to a file, the folder dialog, the file manager and the default handler.
#pragma once

#include <optional>
#include <string>

#include "engine/main_window_view.h"
#include "platform/text.h"

namespace qarvo {

// Creates every missing folder on the way to the file `filePath` (GBK, "/"
// separated); the last component, the file name, is never created. The root
// of an absolute path and a drive prefix such as "C:" are never created.
// True when the folders exist afterwards, false as soon as one could not be
// created.
bool makeDirectoryPath(TextView filePath);

// Browse flags of the folder dialog.
namespace browse {
inline constexpr unsigned kEditBox = 0x10;
inline constexpr unsigned kNewDialogStyle = 0x40;
inline constexpr unsigned kIncludeFiles = 0x4000;
}  // namespace browse

// Shows the folder dialog starting at `initialPath`; a missing title shows
// "请选择一个文件夹". Returns the chosen folder trimmed of blanks, or empty
// text when the user cancels.
Text chooseFolder(MainWindowView& view, const Text& initialPath,
                  std::optional<Text> title = std::nullopt, bool listFiles = false,
                  bool showEditBox = true, bool newDialogStyle = true);

struct ExplorerOptions {
  bool newWindow = false;
  bool pathIsFolder = false;
  bool cutToFolder = false;
  bool wait = false;
  int showMode = 2;
};

// Opens `path` in the file manager; with pathIsFolder, a path ending in
// ".exe" (any letter case) is started as a program instead. cutToFolder cuts
// the path before its last separator first. Here the desktop opens the folder
// (a file's own folder when the path names a file). True when the launch
// succeeded.
bool openInExplorer(MainWindowView& view, TextView path, const ExplorerOptions& options);

// Opens a URL or a file with the desktop's default handler; the outcome is
// not looked at.
void openDocument(MainWindowView& view, const std::string& target);

}  // namespace qarvo
