// Start-up of the program: the checks and settings that must come before
// QApplication, and the process-wide state that lives until exit.
#pragma once

#include <memory>
#include <string>

#include "platform/text.h"
#include "settings/settings_store.h"

namespace qarvo {

inline constexpr char kProgramName[] = "Qarvo·Dorvane";

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

  // Steps 1-3 of the start-up: the values, the program name, the settings
  // path and the opened settings store.
  void create();
  // The exit routine: releases the name and the path, destroys the store.
  void release();
};

}  // namespace qarvo
