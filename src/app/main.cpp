// Qarvo·Dorvane: reverse WHOIS look-ups by e-mail address.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLibrary>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/address_history.h"
#include "app/embedded_browser.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "app/startup.h"
#include "app/translations.h"
#include "engine/lookup_history.h"
#include "engine/service_description.h"
#include "platform/code_page.h"
#include "platform/file_places.h"
#include "platform/native_file.h"

namespace {

// `--version`: the version and the browser module the program would load,
// loaded here to show that it can be (no display needed).
int printVersion() {
  std::printf("%s %s\n", qarvo::kProgramName, QARVO_VERSION);
  const QString module = qarvo::embeddedBrowserModulePath(
      QString::fromStdString(qarvo::gbkToUtf8(qarvo::programDirectory())));
  if (module.isEmpty()) {
    std::printf("browser module: missing (%s beside the program or in %s)\n",
                qarvo::kEmbeddedBrowserModule, qarvo::kEmbeddedBrowserInstalledFolder);
    return 1;
  }
  QLibrary library(module);
  if (library.resolve(qarvo::kCreateEmbeddedBrowserSymbol) == nullptr) {
    std::printf("browser module: %s does not load: %s\n", qPrintable(module),
                qPrintable(library.errorString()));
    return 1;
  }
  std::printf("browser module: %s\n", qPrintable(module));
  return 0;
}

// A desktop session that ends, `kill` or Ctrl+C close the window the way the
// user would, so the settings are written; the handler only wakes the loop.
// A second signal ends the process at once.
int signalPipe[2] = {-1, -1};

void onEndSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = write(signalPipe[0], &byte, 1);
}

void closeOnEndSignals(QWidget* window) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
    return;
  auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    char bytes[16];
    while (read(signalPipe[1], bytes, sizeof bytes) > 0) {
    }
    window->close();
  });
  struct sigaction action {};
  action.sa_handler = onEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
    return printVersion();
  std::string why;
  if (!qarvo::displayAvailable(&why)) {
    std::fprintf(stderr,
                 "qarvo-dorvane: %s.\nStart it from a desktop session, or under xvfb-run.\n",
                 why.c_str());
    return 1;
  }
  qarvo::prepareBrowserEnvironment();

  QApplication app(argc, argv);
  qarvo::installChineseTranslations();  // standard buttons and dialogs in Chinese
  // Ties the window to the desktop entry (Wayland shells find the icon by it).
  QGuiApplication::setDesktopFileName(QString::fromLatin1(qarvo::kApplicationId));
  if (QIcon::hasThemeIcon(QString::fromLatin1(qarvo::kApplicationId)))
    QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(qarvo::kApplicationId)));

  // Process-wide state, the settings file opened before any window exists;
  // the exit routine runs when main returns.
  qarvo::ProgramState state;
  state.create();
  struct ExitRoutine {
    qarvo::ProgramState& state;
    ~ExitRoutine() { state.release(); }
  } exitRoutine{state};

  // Said once, instead of settings and results silently going nowhere.
  if (const qarvo::Text message = state.unwritablePlacesMessage(); !message.empty())
    QMessageBox::warning(nullptr, QString::fromUtf8(qarvo::kProgramName),
                         qarvo::toDisplay(message));

  int result = 0;
  {
    qarvo::MainWindow window(state.settingsStore.get());
    window.setCloseWatchdog([] { std::_Exit(0); });
    // What the program knows of the services' pages: built in, then the
    // user's services.ini. A line it cannot read is named, not ignored.
    std::vector<std::string> problems;
    window.engine().setServices(qarvo::loadServiceDescriptions(
        window.engine().endpoints(),
        qarvo::nativePath(qarvo::settingsFolder() + qarvo::kPathSeparator +
                          qarvo::kServicesFileName),
        &problems));
    if (!problems.empty()) {
      QString text = QStringLiteral("services.ini 中有无法读取的行，已改用内置的值：\n");
      for (const std::string& problem : problems)
        text += QString::fromStdString(problem) + QLatin1Char('\n');
      QMessageBox::warning(nullptr, QString::fromUtf8(qarvo::kProgramName), text);
    }
    // The history of look-ups, opened once; the window works without it
    // when it cannot be used, and says why once.
    qarvo::LookupHistory history;
    if (const qarvo::Text message = qarvo::openWindowHistory(history, qarvo::historyPath());
        !message.empty())
      QMessageBox::warning(nullptr, QString::fromUtf8(qarvo::kProgramName),
                           qarvo::toDisplay(message));
    if (history.isOpen())
      window.engine().setHistory(&history);
    closeOnEndSignals(&window);
    window.show();
    result = app.exec();
  }
  return result;
}
