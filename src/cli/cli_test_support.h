// What the tests and the overhead measurement of qarvo-lookup share: the fake
// services behind an HTTP proxy, and a way to run the program itself.
//
// FakeServiceProxy: the fake services behind an HTTP proxy on loopback.
// qarvo-lookup talks to the real host names, as the window does; with
// http_proxy pointing here, its requests reach the in-process fakes, which a
// test sets up and whose records it reads. Requests for any other host get
// 502: nothing leaves the machine.
//
//   FakeServices fakes;
//   fakes.setAddress(FakeSite::kAizhan, "a@b.com", {.domains = {"x.com"}});
//   FakeServiceProxy proxy(fakes);
//   proxy.start();
//   ... run the program with http_proxy=proxy.url() ...
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "testing/fake_services.h"
#include "testing/tls_front.h"

namespace qarvo::cli {

class FakeServiceProxy {
 public:
  explicit FakeServiceProxy(testing::FakeServices& fakes);
  ~FakeServiceProxy();
  FakeServiceProxy(const FakeServiceProxy&) = delete;
  FakeServiceProxy& operator=(const FakeServiceProxy&) = delete;

  // Listens on an ephemeral port of 127.0.0.1. False when it cannot.
  bool start();
  void stop();
  int port() const { return port_; }
  // "http://127.0.0.1:<port>", the value for http_proxy.
  std::string url() const;

  // Requests whose target contains `part` get no answer until release() (a
  // request in flight that a stop must abort).
  void hold(const std::string& part);
  void release();
  // How many requests are being held now.
  int heldNow() const { return heldNow_.load(); }

 private:
  testing::FakeServices& fakes_;
  std::mutex mutex_;
  std::condition_variable released_;
  std::string holdPart_;
  bool holding_ = false;
  std::atomic<int> heldNow_{0};
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::unique_ptr<testing::TlsFront> front_;  // https through CONNECT
};

// One run of a program with its standard streams in files.
class ProgramRun {
 public:
  struct Setup {
    std::vector<std::string> arguments;              // without the program itself
    std::map<std::string, std::string> environment;  // set on top of a clean proxy setting
    std::string standardInput = "/dev/null";         // file to read standard input from
    std::string standardOutput;                      // files for the output ("": /dev/null)
    std::string standardError;
  };

  ProgramRun() = default;
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // Starts `program`. The proxy variables of this process are not handed on
  // (the environment of the setup sets them). False when it cannot start.
  bool start(const std::string& program, const Setup& setup);
  pid_t pid() const { return pid_; }
  // Sends a signal to the running program.
  void signal(int number);
  // The exit status when the program has ended (as wait()), else nullopt.
  std::optional<int> poll();
  // Waits for the end, at most `limit`; the exit status, 128 + signal for a
  // program ended by a signal, nullopt when it still runs (it is then killed).
  std::optional<int> wait(std::chrono::milliseconds limit);
  // CPU seconds the ended program used (user + system).
  double cpuSeconds() const { return cpuSeconds_; }

 private:
  pid_t pid_ = -1;
  std::optional<int> exitStatus_;
  double cpuSeconds_ = 0;
};

// Waits until `condition` holds, checking every few milliseconds; false when
// it still does not after `limit`.
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The whole content of a file ("" when it cannot be read).
std::string fileText(const std::string& path);

}  // namespace qarvo::cli
