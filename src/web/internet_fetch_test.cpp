#include "web/internet_fetch.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/event_pump.h"
#include "testing/test_server.h"

namespace qarvo {
namespace {

using qarvo::testing::RawServer;
using qarvo::testing::RecordedRequest;
using qarvo::testing::Reply;
using qarvo::testing::TestServer;

// The web tests talk to loopback servers only: no proxy from the environment.
const bool proxyEnvironmentCleared = qarvo::testing::clearProxyEnvironment();

std::string asString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Threads of this process right now.
int threadCount() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] != '.')
        ++count;
    }
    closedir(tasks);
  }
  return count;
}

// Records on which threads the event pump was called.
struct PumpRecorder {
  static inline std::atomic<int> calls{0};
  static inline std::atomic<int> callsElsewhere{0};
  static inline std::thread::id owner;
  static void pump() {
    ++calls;
    if (std::this_thread::get_id() != owner)
      ++callsElsewhere;
  }
  PumpRecorder() {
    calls = 0;
    callsElsewhere = 0;
    owner = std::this_thread::get_id();
    previous = setEventPump(&PumpRecorder::pump);
  }
  ~PumpRecorder() { setEventPump(previous); }
  EventPump previous;
};

TEST(InternetHeaderTextTest, DirectDefaults) {
  InternetFetchRequest request{.headers = "X-A: 1", .cookies = "a=1"};
  EXPECT_EQ(internetHeaderText(request, false),
            "X-A: 1\r\n"
            "User-Agent: Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
            "Chrome/30.0.1599.101 Safari/537.36\r\n"
            "Accept: */*\r\n"
            "Accept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Cookie: a=1\r\n");
  request.headers = "user-agent: Mine\r\naccept: x\r\nAccept-Language: en\r\nContent-Type: t\r\n";
  request.cookies.clear();
  EXPECT_EQ(internetHeaderText(request, false), request.headers);

  // Cookies that would add header lines of their own are left out whole.
  for (bool threaded : {false, true}) {
    request.cookies = "a=1\r\nX-Injected: yes";
    EXPECT_EQ(internetHeaderText(request, threaded).find("Cookie"), Text::npos);
    EXPECT_EQ(internetHeaderText(request, threaded).find("X-Injected"), Text::npos);
    request.cookies = "a=1\nb=2";
    EXPECT_EQ(internetHeaderText(request, threaded).find("Cookie"), Text::npos);
  }
}

TEST(InternetHeaderTextTest, ThreadedDefaultsAndTheRefererMarker) {
  InternetFetchRequest request{.method = 1, .referer = "http://r/", .body = toBytes("abc")};
  EXPECT_EQ(internetHeaderText(request, true),
            "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
            "application/x-shockwave-flash, application/vnd.ms-excel, "
            "application/vnd.ms-powerpoint, application/msword, */*\r\n"
            "Referer: http://r/\r\n"
            "Accept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: 3\r\n");

  // GET: no form lines; the marker is removed and keeps the Referer out.
  request.method = 0;
  request.headers = "X-A: 1\r\nRefererNo";
  Text text = internetHeaderText(request, true);
  EXPECT_EQ(text.find("RefererNo"), Text::npos);
  EXPECT_EQ(text.find("Referer:"), Text::npos);
  EXPECT_EQ(text.find("Content-"), Text::npos);
  EXPECT_EQ(text.substr(0, 8), "X-A: 1\r\n");
}

class InternetFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.reply("/page", Reply{.headers = {{"Set-Cookie", "s=1; path=/"},
                                            {"Set-Cookie", "t=2"},
                                            {"Content-Type", "text/html; charset=utf-8"}},
                                .body = "page"});
  }
  TestServer server;
};

TEST_F(InternetFetchTest, BothBackEndsSendTheirHeadersAndReadCookies) {
  for (bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "direct");
    InternetFetchRequest request{.url = server.url("/page"),
                                 .method = 1,
                                 .headers = "X-A: 1",
                                 .referer = "http://from/",
                                 .cookies = "c=3",
                                 .body = toBytes("k=v")};
    InternetFetchResult result = threaded ? threadedInternetFetch(request) : internetFetch(request);
    EXPECT_EQ(asString(result.body), "page");
    EXPECT_EQ(result.cookies, "s=1; t=2; ");
    EXPECT_EQ(result.headers.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_NE(result.headers.find("charset=utf-8"), Text::npos);

    RecordedRequest sent = server.lastRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.body, "k=v");
    EXPECT_EQ(sent.header("X-A"), "1");
    EXPECT_EQ(sent.header("Cookie"), "c=3");
    EXPECT_EQ(sent.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(sent.headerCount("Content-Length"), 1u);
    if (threaded) {
      EXPECT_EQ(sent.header("Referer"), "http://from/");
      EXPECT_EQ(sent.header("Accept").substr(0, 21), "image/gif, image/bmp,");
    } else {
      EXPECT_EQ(sent.header("Accept"), "*/*");
      EXPECT_FALSE(sent.hasHeader("Referer"));
    }
  }
}

TEST_F(InternetFetchTest, FailuresGiveNothing) {
  for (bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "direct");
    auto run = [threaded](const InternetFetchRequest& request) {
      return threaded ? threadedInternetFetch(request) : internetFetch(request);
    };
    InternetFetchResult result = run({.url = "no-scheme/page"});
    EXPECT_TRUE(result.body.empty());
    EXPECT_TRUE(result.headers.empty());
    result = run({.url = "http://127.0.0.1:" + std::to_string(qarvo::testing::unusedPort())});
    EXPECT_TRUE(result.body.empty());
    RawServer silent(RawServer::neverAnswer());
    result = run({.url = silent.url("/"), .timeoutSeconds = 1});
    EXPECT_TRUE(result.body.empty());
    EXPECT_TRUE(result.headers.empty());
  }
}

TEST_F(InternetFetchTest, ThreadedWaitPumpsEventsOnTheCallingThreadOnly) {
  server.reply("/slow", Reply{.body = "late", .delayMs = 300});
  PumpRecorder recorder;
  InternetFetchResult result = threadedInternetFetch({.url = server.url("/slow")});
  EXPECT_EQ(asString(result.body), "late");
  EXPECT_GE(PumpRecorder::calls.load(), 10);  // every 10 ms while the worker runs
  EXPECT_EQ(PumpRecorder::callsElsewhere.load(), 0);

  // The direct back-end does not pump while it waits.
  PumpRecorder::calls = 0;
  result = internetFetch({.url = server.url("/slow")});
  EXPECT_EQ(asString(result.body), "late");
  EXPECT_EQ(PumpRecorder::calls.load(), 0);
}

TEST(ThreadedInternetFetchTest, LeavesNoThreadBehind) {
  const int before = threadCount();
  {
    RawServer answering(RawServer::answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    for (int i = 0; i < 3; ++i) {
      InternetFetchResult result = threadedInternetFetch({.url = answering.url("/")});
      EXPECT_EQ(asString(result.body), "ok");
    }
    RawServer silent(RawServer::neverAnswer());
    EXPECT_TRUE(threadedInternetFetch({.url = silent.url("/"), .timeoutSeconds = 1}).body.empty());
  }  // the servers join their own threads here
  EXPECT_EQ(threadCount(), before);
}

}  // namespace
}  // namespace qarvo
