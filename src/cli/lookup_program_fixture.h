// The fixture of the tests that run qarvo-lookup itself, as a user runs it,
// against the fake services behind a loopback proxy: each test in a folder
// of its own, with its own history.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_test_support.h"
#include "cli/result_output.h"
#include "testing/fake_services.h"

namespace qarvo::cli {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::FakeServices;
using testing::FakeSite;

inline std::vector<std::string> numberedDomains(const std::string& stem, int count) {
  std::vector<std::string> domains;
  for (int i = 1; i <= count; ++i)
    domains.push_back(stem + std::to_string(i) + ".com");
  return domains;
}

inline std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i)
    text += (i > 0 ? separator : "") + parts[i];
  return text;
}

class LookupProgramTest : public ::testing::Test {
 protected:
  struct Outcome {
    std::optional<int> status;
    std::string out;
    std::string err;
  };

  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("lookup_program_test." + std::to_string(::getpid()) + "." +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    // Unrecognised pages the program keeps go to the test's folder.
    ::setenv("XDG_CACHE_HOME", path("cache").c_str(), 1);
    ASSERT_TRUE(proxy_.start());
  }
  void TearDown() override {
    proxy_.stop();
    if (!HasFailure())
      std::filesystem::remove_all(folder_);
  }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  void writeFile(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }

  // Every run keeps its history in the test's folder.
  bool start(ProgramRun& run, std::vector<std::string> arguments,
             const std::string& standardInput = "/dev/null", int attempt = 0) {
    const std::string tag = std::to_string(attempt);
    if (std::find(arguments.begin(), arguments.end(), "--history") == arguments.end())
      arguments.insert(arguments.begin() + (!arguments.empty() && arguments[0] == "history"),
                       {"--history", path("history.sqlite3")});
    return run.start(QARVO_LOOKUP_PROGRAM, {.arguments = std::move(arguments),
                                            .environment = {{"http_proxy", proxy_.url()}},
                                            .standardInput = standardInput,
                                            .standardOutput = path("stdout" + tag),
                                            .standardError = path("stderr" + tag)});
  }
  Outcome finish(ProgramRun& run, int attempt = 0, milliseconds limit = seconds(120)) {
    Outcome outcome;
    outcome.status = run.wait(limit);
    outcome.out = fileText(path("stdout" + std::to_string(attempt)));
    outcome.err = fileText(path("stderr" + std::to_string(attempt)));
    return outcome;
  }
  Outcome runProgram(std::vector<std::string> arguments,
                     const std::string& standardInput = "/dev/null") {
    ProgramRun run;
    if (!start(run, std::move(arguments), standardInput))
      return {};
    return finish(run);
  }

  // The addresses the services were asked about, in order, one per request.
  std::vector<std::string> askedAddresses() const {
    std::vector<std::string> asked;
    for (const auto& request : fakes_.requests()) {
      if (request.site == FakeSite::kAizhan)
        asked.push_back(request.param("q"));
      else if (request.site == FakeSite::kChinaz)
        asked.push_back(request.param("host"));
    }
    return asked;
  }
  size_t timesAsked(const std::string& address) const {
    auto asked = askedAddresses();
    return static_cast<size_t>(std::count(asked.begin(), asked.end(), address));
  }

  // The columns after more_pages of a domain row the service just answered,
  // with no earlier look-up to compare with; and of a row without a domain.
  static std::string fresh(const std::string& service = "aizhan") {
    return ",service,," + utcDate(std::chrono::system_clock::now()) + "," + service + "\n";
  }
  static std::string bare(const std::string& service = "aizhan") {
    return ",service,,," + service + "\n";
  }

  FakeServices fakes_;
  FakeServiceProxy proxy_{fakes_};
  std::filesystem::path folder_;
};

}  // namespace qarvo::cli
