// Start-up of the program: the checks and settings that must come before
// QApplication, and the process-wide state that lives until exit.
#pragma once

#include <memory>
#include <string>

#include "platform/text.h"
#include "settings/settings_store.h"

namespace qarvo {

inline constexpr char kProgramName[] = "Qarvo·Dorvane";
// The program's id on the desktop: the names of its desktop entry, icon and
// AppStream metainfo (packaging/), and the desktop file name Qt reports.
inline constexpr char kApplicationId[] = "example.qarvo.Dorvane";

// Whether a window system can be reached: QT_QPA_PLATFORM names a platform,
// WAYLAND_DISPLAY is set, or DISPLAY names an X server that accepts a
// connection. Otherwise `why` says what is missing.
bool displayAvailable(std::string* why);

// Process settings for the embedded browser, made before anything starts it:
// Chromium's sandbox refuses to run as root, so it is switched off then, and
// only then.
void prepareBrowserEnvironment();

// The process-wide values, created at start-up in this order and released by
// release() (the exit routine) at the end.
struct ProgramState {
  std::unique_ptr<SettingsStore> settingsStore;
  Text programName;
  Text settingsFilePath;
  // Whether the settings and the results have a folder that can be written
  // (beside the program, else the user's config and documents folders).
  bool settingsWritable = true;
  bool resultsWritable = true;

  // Steps 1-3 of the start-up: the values, the program name, the settings
  // path and the opened settings store. The settings file lies beside the
  // program when that folder is writable, else in the user's config folder.
  void create();
  // What start-up tells the user, once, when a place cannot be written:
  // empty when both can, else a message naming the folders tried (GBK).
  Text unwritablePlacesMessage() const;
  // The exit routine: releases the name and the path, destroys the store.
  void release();
};

}  // namespace qarvo
