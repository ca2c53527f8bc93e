// Where the program keeps its files.
//
// A copy run from a folder of its own (unpacked, or the build folder) keeps
// everything beside the program, as it always has. An installed program lies in
// a folder the user cannot write (/usr/bin), so it keeps its settings in the
// user's configuration folder and its results in the user's documents folder,
// the places a Linux desktop user looks for them. Every path here is GBK text
// without a final separator, built from the environment at the time of the
// call (tests change it).
#pragma once

#include "platform/text.h"

namespace qarvo {

// The name of the program's folder in the user's configuration folder.
inline constexpr char kConfigFolderName[] = "qarvo-dorvane";

// True when a file can be created in the folder now. Tried with a file that is
// removed at once, not guessed from mode bits: root writes into a folder
// without write permission, nobody writes on a read-only mount.
bool folderWritable(TextView gbkFolder);

// True when the program runs from an install: its folder is a "bin" folder
// with the program's private library folder "../lib/qarvo-dorvane" beside it.
// An installed program never writes beside itself, even where it could (root
// and /usr/bin, a user and ~/.local/bin).
bool runsInstalled();

// Creates the folder and its missing parents. True when it exists afterwards.
bool createFolders(TextView gbkFolder);

// The user's home: $HOME, else the password database's entry, else "/".
Text homeFolder();

// $XDG_CONFIG_HOME/qarvo-dorvane, or ~/.config/qarvo-dorvane when the
// variable is unset, empty or not an absolute path. Not created here.
Text userConfigFolder();

// $XDG_CACHE_HOME/qarvo-dorvane, or ~/.cache/qarvo-dorvane when the variable
// is unset, empty or not an absolute path: files the user may delete at any
// time. Not created here.
Text userCacheFolder();

// $XDG_DATA_HOME/qarvo-dorvane, or ~/.local/share/qarvo-dorvane when the
// variable is unset, empty or not an absolute path: what the program keeps
// for the user (the look-up history). Not created here.
Text userDataFolder();

// The user's documents folder, found as xdg-user-dir finds it: the
// XDG_DOCUMENTS_DIR line of user-dirs.dirs in the configuration home, else the
// XDG_DOCUMENTS_DIR variable, else the home folder.
Text userDocumentsFolder();

// The folder of the settings file: the program folder when it is writable
// and not an install, else userConfigFolder(), created with its parents. When that cannot be
// written either, the configuration folder all the same (the settings then
// live in memory for the run) and `*writable` is false.
Text settingsFolder(bool* writable = nullptr);

// The folder the default result folders go into: the program folder when it
// is writable and not an install, else the user's documents folder. `*writable` is false when the
// documents folder cannot be written either (it is created when missing).
Text resultPlace(bool* writable = nullptr);

// The result folder used when the user chose none: resultPlace() + "/查询结果".
Text defaultResultFolder();

}  // namespace qarvo
