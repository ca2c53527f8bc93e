// Test runner of the window tests: GoogleTest on a QApplication.
//
// Each run gets an X server of its own (Xvfb, started here and waited for
// until it accepts connections): ctest runs every test case as a process of
// its own, in parallel, and processes sharing one display steal each other's
// focus and clipboard, see each other's windows, and fail to connect while a
// shared server resets after its last client left. With QT_QPA_PLATFORM set
// (offscreen for the tests that need no real window) or
// QARVO_TEST_DISPLAY=inherit (to watch the tests on one's own screen), the
// given platform and display are used as they are.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/startup.h"

namespace {

// An Xvfb of this process: ends with it, even when the process is killed.
class OwnDisplay {
 public:
  OwnDisplay() = default;
  OwnDisplay(const OwnDisplay&) = delete;
  OwnDisplay& operator=(const OwnDisplay&) = delete;
  ~OwnDisplay() { stop(); }

  // Starts the server and returns once it accepts connections; sets DISPLAY.
  bool start(std::string* why) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
      return fail(why, std::string("pipe: ") + std::strerror(errno));
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
      close(ready[0]);
      close(ready[1]);
      return fail(why, std::string("fork: ") + std::strerror(errno));
    }
    if (pid_ == 0)
      runServer(ready[1], parent);
    close(ready[1]);
    std::string number;
    const bool answered = readDisplayNumber(ready[0], &number);
    close(ready[0]);
    if (!answered) {
      stop();
      return fail(why, "Xvfb did not start (is it installed?) or did not get ready in time");
    }
    const std::string display = ":" + number;
    setenv("DISPLAY", display.c_str(), 1);
    // The program started by the tests must not pick a Wayland session of the
    // desktop the tests were started from.
    unsetenv("WAYLAND_DISPLAY");
    return true;
  }

  void stop() {
    if (pid_ <= 0)
      return;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

 private:
  static constexpr int kReadyTimeoutMs = 60000;

  [[noreturn]] static void runServer(int readyFd, pid_t parent) {
    // Ends with the test process, whatever way that ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
      _exit(1);
    fcntl(readyFd, F_SETFD, 0);
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) {
      dup2(quiet, STDOUT_FILENO);
      dup2(quiet, STDERR_FILENO);
    }
    const std::string fd = std::to_string(readyFd);
    // -displayfd: the server takes the first free display number itself and
    // writes it once it accepts connections. -noreset: a server that resets
    // when its last client leaves refuses the next one for a moment.
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1000x24", "-nolisten",
           "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }

  static bool readDisplayNumber(int fd, std::string* number) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kReadyTimeoutMs) {
      pollfd wait{fd, POLLIN, 0};
      const int polled = poll(&wait, 1, static_cast<int>(kReadyTimeoutMs - clock.elapsed()));
      if (polled < 0 && errno == EINTR)
        continue;
      if (polled <= 0)
        return false;
      char chunk[16];
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0)  // the server ended before it was ready
        return false;
      for (ssize_t i = 0; i < got; ++i) {
        if (chunk[i] == '\n')
          return !number->empty();
        if (chunk[i] < '0' || chunk[i] > '9')
          return false;
        number->push_back(chunk[i]);
      }
    }
    return false;
  }

  static bool fail(std::string* why, std::string text) {
    *why = std::move(text);
    return false;
  }

  pid_t pid_ = -1;
};

bool wantsOwnDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0')
    return false;
  const char* choice = std::getenv("QARVO_TEST_DISPLAY");
  return choice == nullptr || std::strcmp(choice, "inherit") != 0;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest's discovery) needs no display.
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
  if (listing)
    return RUN_ALL_TESTS();

  OwnDisplay display;
  if (wantsOwnDisplay()) {
    std::string why;
    if (!display.start(&why)) {
      std::fprintf(stderr, "app_tests: no display of its own: %s\n", why.c_str());
      return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }
  int failed = 0;
  {
    qarvo::prepareBrowserEnvironment();
    QApplication app(argc, argv);
    // Closing a window in a test must not end the tests' own event loops.
    QApplication::setQuitOnLastWindowClosed(false);
    failed = RUN_ALL_TESTS();
  }
  display.stop();
  return failed;
}
