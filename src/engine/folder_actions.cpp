#include "engine/folder_actions.h"

#include "engine/address_text.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

bool isDrivePrefix(TextView prefix) {
  return prefix.size() == 2 && prefix[1] == ':' &&
         !isLeadByte(static_cast<unsigned char>(prefix[0]));
}

// Position of the last separator of `path`, stepping over double-byte
// characters; npos when there is none.
size_t lastSeparator(TextView path) {
  size_t last = TextView::npos;
  for (size_t at = 0; at < path.size(); at += charLength(path, at)) {
    if (path[at] == kPathSeparator || path[at] == '\\')
      last = at;
  }
  return last;
}

bool endsWithExe(TextView path) {
  if (path.size() < 4)
    return false;
  TextView tail = path.substr(path.size() - 4);
  return tail[0] == '.' && asciiLower(tail[1]) == 'e' && asciiLower(tail[2]) == 'x' &&
         asciiLower(tail[3]) == 'e';
}

}  // namespace

bool makeDirectoryPath(TextView filePath) {
  // The created folders are not reported: callers only want them to exist.
  for (size_t at = 0; at < filePath.size(); at += charLength(filePath, at)) {
    if (filePath[at] != kPathSeparator)
      continue;
    TextView prefix = filePath.substr(0, at);
    if (prefix.empty() || isDrivePrefix(prefix))
      continue;
    if (!pathExists(prefix) && !createDirectory(prefix))
      return false;
  }
  return true;
}

Text chooseFolder(MainWindowView& view, const Text& initialPath, std::optional<Text> title,
                  bool listFiles, bool showEditBox, bool newDialogStyle) {
  static const Text kDefaultTitle = gbk("请选择一个文件夹");
  unsigned flags = 0;
  if (listFiles)
    flags |= browse::kIncludeFiles;
  if (showEditBox)
    flags |= browse::kEditBox;
  if (newDialogStyle)
    flags |= browse::kNewDialogStyle;
  Text chosen = view.chooseFolder(initialPath, title ? *title : kDefaultTitle, flags);
  return Text(trimBlanks(chosen));
}

bool openInExplorer(MainWindowView& view, TextView path, const ExplorerOptions& options) {
  Text target(path);
  if (options.cutToFolder) {
    size_t separator = lastSeparator(target);
    if (separator != TextView::npos)
      target.resize(separator);
  }
  if (options.pathIsFolder && endsWithExe(target))
    return view.startProgram(target);
  // The desktop takes a folder to open, so a file opens the file's folder.
  if (!options.pathIsFolder && !options.cutToFolder) {
    size_t separator = lastSeparator(target);
    if (separator != TextView::npos)
      target.resize(separator == 0 ? 1 : separator);
  }
  return view.openFolder(target);
}

void openDocument(MainWindowView& view, const std::string& target) {
  view.openDocument(target);
}

}  // namespace qarvo
