// Qarvo·Dorvane: reverse WHOIS look-ups by e-mail address.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/main_window.h"
#include "app/startup.h"

int main(int argc, char** argv) {
  std::string why;
  if (!qarvo::displayAvailable(&why)) {
    std::fprintf(stderr,
                 "qarvo-dorvane: %s.\nStart it from a desktop session, or under xvfb-run.\n",
                 why.c_str());
    return 1;
  }
  qarvo::prepareBrowserEnvironment();

  QApplication app(argc, argv);

  // Process-wide state, the settings file opened before any window exists;
  // the exit routine runs when main returns.
  qarvo::ProgramState state;
  state.create();
  struct ExitRoutine {
    qarvo::ProgramState& state;
    ~ExitRoutine() { state.release(); }
  } exitRoutine{state};

  int result = 0;
  {
    qarvo::MainWindow window(state.settingsStore.get());
    window.setCloseWatchdog([] { std::_Exit(0); });
    window.show();
    result = app.exec();
  }
  return result;
}
