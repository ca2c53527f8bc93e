#include "cli/cli_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace qarvo::cli {

FakeServiceProxy::FakeServiceProxy(testing::FakeServices& fakes) : fakes_(fakes) {
  auto route = [this](const httplib::Request& incoming, httplib::Response& response) {
    {
      std::unique_lock lock(mutex_);
      if (holding_ && incoming.target.find(holdPart_) != std::string::npos) {
        ++heldNow_;
        released_.wait_for(lock, std::chrono::seconds(60), [this] { return !holding_; });
        --heldNow_;
      }
    }
    httplib::Request request = incoming;
    // The fakes see what the site itself would have seen.
    testing::FakeServices::unwrapProxyRequest(&request);
    if (!fakes_.handle(request, response)) {
      response.status = 502;
      response.set_content("only the look-up services' hosts are served here\n", "text/plain");
    }
  };
  server_.Get(".*", route);
  server_.Post(".*", route);
}

FakeServiceProxy::~FakeServiceProxy() {
  stop();
}

void FakeServiceProxy::hold(const std::string& part) {
  std::lock_guard lock(mutex_);
  holdPart_ = part;
  holding_ = true;
}

void FakeServiceProxy::release() {
  {
    std::lock_guard lock(mutex_);
    holding_ = false;
  }
  released_.notify_all();
}

bool FakeServiceProxy::start() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0)
    return false;
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  front_ = std::make_unique<testing::TlsFront>("127.0.0.1:" + std::to_string(port_));
  return front_->ready();
}

void FakeServiceProxy::stop() {
  release();
  if (thread_.joinable()) {
    server_.stop();
    thread_.join();
  }
}

std::string FakeServiceProxy::url() const {
  return "http://" + front_->hostPort();
}

ProgramRun::~ProgramRun() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool ProgramRun::start(const std::string& program, const Setup& setup) {
  static const char* const kProxyVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                                "HTTPS_PROXY", "all_proxy",  "ALL_PROXY",
                                                "no_proxy",    "NO_PROXY"};
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    std::string_view entry(*variable);
    std::string_view name = entry.substr(0, entry.find('='));
    bool drop = setup.environment.count(std::string(name)) > 0;
    for (const char* proxy : kProxyVariables)
      drop = drop || name == proxy || name == "SSL_CERT_FILE";
    if (!drop)
      environment.emplace_back(entry);
  }
  for (const auto& [name, value] : setup.environment)
    environment.push_back(name + "=" + value);
  // The fakes' proxies answer https through CONNECT, with the test authority.
  if (setup.environment.count("http_proxy") > 0 && setup.environment.count("https_proxy") == 0)
    environment.push_back("https_proxy=" + setup.environment.at("http_proxy"));
  if (setup.environment.count("SSL_CERT_FILE") == 0)
    environment.push_back("SSL_CERT_FILE=" + testing::TestAuthority::instance().caFile());

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : setup.arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  auto redirect = [&actions](int fd, const std::string& path, int flags) {
    posix_spawn_file_actions_addopen(&actions, fd, path.empty() ? "/dev/null" : path.c_str(), flags,
                                     0644);
  };
  redirect(STDIN_FILENO, setup.standardInput, O_RDONLY);
  redirect(STDOUT_FILENO, setup.standardOutput, O_WRONLY | O_CREAT | O_TRUNC);
  redirect(STDERR_FILENO, setup.standardError, O_WRONLY | O_CREAT | O_TRUNC);
  int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0)
    pid_ = -1;
  return failed == 0;
}

void ProgramRun::signal(int number) {
  if (pid_ > 0)
    ::kill(pid_, number);
}

std::optional<int> ProgramRun::poll() {
  if (pid_ <= 0)
    return exitStatus_;
  int status = 0;
  rusage usage{};
  if (::wait4(pid_, &status, WNOHANG, &usage) != pid_)
    return std::nullopt;
  pid_ = -1;
  cpuSeconds_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exitStatus_;
}

std::optional<int> ProgramRun::wait(std::chrono::milliseconds limit) {
  std::optional<int> status;
  if (!waitFor([&] { return (status = poll()).has_value(); }, limit)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return std::nullopt;
  }
  return status;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace qarvo::cli
