// Look-up runs in which one address's service misbehaves.
//
// Each test runs three addresses; the middle one meets a fault on loopback
// while the others are served by the fake services. Every test checks that the
// fetches of the faulty address end within their time budget, that the run
// goes on to the last address, and that the auto-saved file of the address
// done before the fault is still what was saved.
//
// The fetch time limit is 1 s here (the engine's seam; the program uses 30 s),
// the shortest the page fetch accepts, so a fetch that hangs costs about 1 s.

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "engine/lookup_engine.h"
#include "platform/code_page.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"
#include "testing/fake_main_window_view.h"
#include "testing/fake_services.h"
#include "testing/fault_router.h"
#include "testing/test_server.h"
#include "web/com_http.h"
#include "web/http_request.h"

namespace qarvo {
namespace {

using Clock = std::chrono::steady_clock;
using testing::FakeAddress;
using testing::FakeServices;
using testing::FakeSite;
using testing::FaultRouter;
using testing::HttpAnswer;

constexpr float kFetchSeconds = 1.0f;
// What a fetch that fails at once (refused, reset, bad content) may cost.
constexpr double kQuickFetchSeconds = 0.5;
// What a fetch cut off by its time limit may cost beyond the limit.
constexpr double kTimeoutSlackSeconds = 0.75;
// How much slower the work on a large page is in a sanitizer build.
#if defined(__SANITIZE_ADDRESS__)
#define QARVO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QARVO_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(QARVO_ADDRESS_SANITIZER)
constexpr double kHeavyWorkFactor = 8.0;
#else
constexpr double kHeavyWorkFactor = 1.0;
#endif

const std::string kFirst = "first@good.com";
const std::string kBad = "bad@fault.com";
const std::string kLast = "last@good.com";
// The bad address as it appears in the page URLs.
const std::string kBadEncoded = "bad%40fault.com";
const char kEarlierResult[] = "earlier1.com\r\nearlier2.com";

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

std::vector<std::string> numberedDomains(const std::string& stem, int count) {
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i)
    out.push_back(stem + std::to_string(i) + ".com");
  return out;
}

Text joined(const std::vector<std::string>& domains) {
  Text out;
  for (const auto& d : domains)
    out += (out.empty() ? "" : "\r\n") + utf8ToGbk(d);
  return out;
}

std::vector<std::string> lines(const Text& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (!text.empty()) {
    std::size_t end = text.find("\r\n", at);
    out.push_back(text.substr(at, end == Text::npos ? Text::npos : end - at));
    if (end == Text::npos)
      break;
    at = end + 2;
  }
  return out;
}

// True when `part` is `whole` with some elements left out (order kept).
bool isOrderedSubset(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  std::size_t at = 0;
  for (const std::string& item : part) {
    while (at < whole.size() && whole[at] != item)
      ++at;
    if (at == whole.size())
      return false;
    ++at;
  }
  return true;
}

// What one run left behind.
struct RunRecord {
  std::vector<Clock::time_point> rowStarts;  // when each row was set to "查询中.."
  Clock::time_point end;
  // The saved file of row 0 as it was when each later row started.
  std::vector<std::string> firstFileWhileLaterRowsRan;

  // Seconds from the start of `row` to the start of the next row (or the end).
  double rowSeconds(std::size_t row) const {
    if (row >= rowStarts.size())
      return -1;
    return secondsBetween(rowStarts[row], row + 1 < rowStarts.size() ? rowStarts[row + 1] : end);
  }
};

class FaultMatrixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fakes.start());
    router = std::make_unique<FaultRouter>(fakes.hostPort());
    setProgramDirectory(program.gbkPath());
    for (FakeSite site : {FakeSite::kAizhan, FakeSite::kChinaz}) {
      fakes.setAddress(site, kFirst, {.domains = firstDomains, .perPage = 3});
      fakes.setAddress(site, kBad, {.domains = badDomains});
      fakes.setAddress(site, kLast, {.domains = lastDomains, .perPage = 2, .gbkPages = true});
    }
    view.setTag(control::kAutoSaveFolderButton, out.gbkPath());
    view.setChecked(control::kAutoSaveCheck, true);
    // A result of an earlier run: only a look-up that completes replaces it.
    ASSERT_TRUE(writeWholeFile(out.gbkPath(kBad + ".txt"), kEarlierResult));
    view.setTag(control::kInputButton, utf8ToGbk(kFirst + "\r\n" + kBad + "\r\n" + kLast));
  }
  void TearDown() override { setProgramDirectory(""); }

  Text savedFile(const std::string& address) const {
    return fileBytes(out.gbkPath(address + ".txt"));
  }

  // Runs the three addresses through a fresh engine speaking to `endpoints`.
  RunRecord run(const ServiceEndpoints& endpoints, const Text& cookieText = {},
                float fetchSeconds = kFetchSeconds) {
    static const Text kQuerying = gbk("查询中..");
    RunRecord record;
    view.onSetCellText = [&](int row, int column, const Text& text) {
      if (column != 1 || text != kQuerying)
        return;
      if (static_cast<std::size_t>(row) == record.rowStarts.size()) {
        record.rowStarts.push_back(Clock::now());
        if (row > 0)
          record.firstFileWhileLaterRowsRan.push_back(savedFile(kFirst));
      }
    };
    LookupEngine engine(view, endpoints);
    engine.setFetchTimeoutSeconds(fetchSeconds);
    engine.setWaitHook([](int) { processPendingEvents(); });
    if (!cookieText.empty())
      engine.setServiceCookieText(cookieText);
    engine.runQueries();
    record.end = Clock::now();
    view.onSetCellText = nullptr;
    return record;
  }

  // The checks every fault shares: the run ended normally, the good addresses
  // were found and saved, and the first address's file stayed as saved while
  // the later addresses ran. The bad row ended as `outcome` and shows
  // `badCell`; its earlier file was replaced only if the look-up completed.
  void expectRunWentOn(const RunRecord& record, LookupOutcome outcome, const Text& badCell) {
    const bool completed = outcome == LookupOutcome::kFound || outcome == LookupOutcome::kNone;
    EXPECT_EQ(view.caption(control::kStartButton), gbk("开始查询"));
    ASSERT_FALSE(view.messageBoxes.empty());
    EXPECT_EQ(view.messageBoxes.back().text,
              completed ? gbk("查询完成！")
                        : gbk("查询完成！\r\n其中 1 个邮箱查询失败或未完成（见该行说明），"
                              "右击该行可重新查询。\r\n\r\n是否现在重新查询这 1 个邮箱？"));
    ASSERT_EQ(view.rowCount(), 3);
    ASSERT_EQ(record.rowStarts.size(), 3u);

    EXPECT_EQ(view.cellText(0, 1), joined(firstDomains));
    EXPECT_EQ(view.rowImage(0), kImageFound);
    EXPECT_EQ(view.cellText(2, 0), utf8ToGbk(kLast));
    EXPECT_EQ(view.cellText(2, 1), joined(lastDomains));
    EXPECT_EQ(view.rowImage(2), kImageFound);
    EXPECT_EQ(view.cellText(1, 1), badCell);
    EXPECT_EQ(view.rowImage(1), outcomeImage(outcome));

    for (const std::string& whileRunning : record.firstFileWhileLaterRowsRan)
      EXPECT_EQ(whileRunning, joined(firstDomains));
    EXPECT_EQ(savedFile(kFirst), joined(firstDomains));
    EXPECT_EQ(savedFile(kBad), completed ? badCell : Text(kEarlierResult));
    EXPECT_EQ(savedFile(kLast), joined(lastDomains));
  }

  // Requests for the bad address that reached the router's fault.
  std::size_t badHits() const {
    std::size_t count = 0;
    for (const auto& hit : router->hits()) {
      if (hit.target.find(kBadEncoded) != std::string::npos)
        ++count;
    }
    return count;
  }

  const std::vector<std::string> firstDomains = numberedDomains("first", 5);
  const std::vector<std::string> badDomains = numberedDomains("bad", 4);
  const std::vector<std::string> lastDomains = numberedDomains("last", 3);

  TempDir program;
  TempDir out;
  FakeServices fakes;
  std::unique_ptr<FaultRouter> router;
  FakeMainWindowView view;
};

// ---- The connection fails ----

TEST_F(FaultMatrixTest, ConnectionClosedWithoutAnAnswer) {
  // Every attempt for the second address is closed unanswered. The user
  // switches to 站长 while it runs: the run read the service when it
  // started, so nothing goes to 站长.
  router->route(kBadEncoded, FaultRouter::rawAnswer(""));
  ScopedEventPump pump([this] { view.selectAizhan(view.rowCount() != 1); });
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFailed, gbk("查询失败：连接失败"));
  EXPECT_EQ(badHits(), 10u);
  // Ten closed attempts cost next to nothing.
  EXPECT_LT(record.rowSeconds(1), 10 * kQuickFetchSeconds);
  EXPECT_TRUE(fakes.requests(FakeSite::kChinaz).empty());
}

TEST_F(FaultMatrixTest, ServerAcceptsAndNeverAnswers) {
  // Three silent attempts, then the page: each silent one ends at the time limit.
  router->route(kBadEncoded, FaultRouter::firstTimes(3, FaultRouter::neverAnswer()));
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFound, joined(badDomains));
  const auto hits = router->hits();
  ASSERT_EQ(hits.size(), 4u);
  for (std::size_t i = 1; i < hits.size(); ++i) {
    SCOPED_TRACE(i);
    const double attempt = secondsBetween(hits[i - 1].at, hits[i].at);
    EXPECT_GE(attempt, kFetchSeconds - 0.1);  // the limit, not an early give-up
    EXPECT_LT(attempt, kFetchSeconds + kTimeoutSlackSeconds);
  }
  EXPECT_LT(record.rowSeconds(1), 3 * (kFetchSeconds + kTimeoutSlackSeconds) + kQuickFetchSeconds);
}

TEST_F(FaultMatrixTest, ResetInTheMiddleOfTheBody) {
  router->route(kBadEncoded, FaultRouter::resetMidBody(40000, std::string(3000, ' ')));
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFailed, gbk("查询失败：连接失败"));
  EXPECT_EQ(badHits(), 10u);  // every attempt of the page
  EXPECT_LT(record.rowSeconds(1), 10 * kQuickFetchSeconds);
}

TEST_F(FaultMatrixTest, EndlessBodyIsCutAtTheLimitAndTheNextAttemptServes) {
  router->route(kBadEncoded, FaultRouter::firstTimes(1, FaultRouter::endlessBody()));
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFound, joined(badDomains));
  const auto hits = router->hits();
  ASSERT_EQ(hits.size(), 2u);
  // 64 MiB over loopback, then the abort.
  EXPECT_LT(secondsBetween(hits[0].at, hits[1].at), 5.0);
}

// ---- The body arrives, but spoilt ----

TEST_F(FaultMatrixTest, GzipBodyCutShort) {
  // Cut in the middle of the compressed page: what inflates is taken, and it
  // holds none but the address's own domains.
  router->route(kBadEncoded, FaultRouter::altered([](HttpAnswer& answer) {
                  std::string packed = testing::gzipCompress(answer.body);
                  answer.body = packed.substr(0, packed.size() * 2 / 3);
                  answer.setHeader("Content-Encoding", "gzip");
                }));
  RunRecord record = run(router->endpoints());

  const Text bad = view.cellText(1, 1);
  std::vector<std::string> badGbk;
  for (const auto& d : badDomains)
    badGbk.push_back(utf8ToGbk(d));
  EXPECT_TRUE(isOrderedSubset(lines(bad), badGbk)) << bad;
  EXPECT_EQ(badHits(), 1u);  // the inflated part is a page: no further attempt
  expectRunWentOn(record, bad.empty() ? LookupOutcome::kNone : LookupOutcome::kFound, bad);
  EXPECT_LT(record.rowSeconds(1), 10 * kQuickFetchSeconds);

  // Only the trailer missing: the whole page inflates.
  FaultRouter trailerless(fakes.hostPort());
  trailerless.route(kBadEncoded, FaultRouter::altered([](HttpAnswer& answer) {
                      std::string packed = testing::gzipCompress(answer.body);
                      answer.body = packed.substr(0, packed.size() - 8);
                      answer.setHeader("Content-Encoding", "gzip");
                    }));
  view.messageBoxes.clear();
  expectRunWentOn(run(trailerless.endpoints()), LookupOutcome::kFound, joined(badDomains));
}

TEST_F(FaultMatrixTest, CorruptGzipBody) {
  // Garbage right after the gzip header: nothing inflates, so every attempt
  // comes back empty.
  router->route(kBadEncoded, FaultRouter::altered([](HttpAnswer& answer) {
                  std::string packed = testing::gzipCompress(answer.body);
                  for (std::size_t i = 10; i < 40 && i < packed.size(); ++i)
                    packed[i] = static_cast<char>(0xFF);
                  answer.body = packed;
                  answer.setHeader("Content-Encoding", "gzip");
                }));
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFailed, gbk("查询失败：连接失败"));
  EXPECT_EQ(badHits(), 10u);
  EXPECT_LT(record.rowSeconds(1), 10 * kQuickFetchSeconds);
}

TEST_F(FaultMatrixTest, InvalidUtf8Page) {
  // Declared UTF-8, with stray continuation bytes, an overlong form, a
  // sequence broken off before markup, and an unfinished one at the very end.
  router->route(kBadEncoded, FaultRouter::altered([](HttpAnswer& answer) {
                  std::string& page = answer.body;
                  page.insert(page.find("<title>"), "\x80\xBF\xC0\xAF");
                  std::size_t row = page.find("<tr class=\"row\">");
                  page.insert(row, "\xE4\xB8");
                  page.insert(page.find("</table>"), "\xF8\x88\x80\x80\x80 \xFF\xFE ");
                  page += "\xE4\xB8";
                }));
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFound, joined(badDomains));
  EXPECT_EQ(badHits(), 1u);
  EXPECT_LT(record.rowSeconds(1), kQuickFetchSeconds);
}

TEST_F(FaultMatrixTest, InvalidGbkPage) {
  fakes.setAddress(FakeSite::kAizhan, kBad, {.domains = badDomains, .gbkPages = true});
  // Bytes no GBK text holds (0x80, 0xFF), a lead byte before a blank, a pair
  // with an invalid trail byte, and a lone lead byte as the very last byte.
  router->route(kBadEncoded, FaultRouter::altered([](HttpAnswer& answer) {
                  std::string& page = answer.body;
                  page.insert(page.find("<title>"), "\x80\xFF\xFF");
                  page.insert(page.find("<tr class=\"row\">"), "\x81 \xFE\x7F\r\n");
                  page.insert(page.find("</table>"), "\xA1\r\n");
                  page += "\xD6";
                }));
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFound, joined(badDomains));
  EXPECT_EQ(badHits(), 1u);
  EXPECT_LT(record.rowSeconds(1), kQuickFetchSeconds);

  // A stray lead byte glued to a tag swallows its "<" (the byte after a lead
  // byte is the second half of the character); that row may be lost, but no
  // other and nothing that is not a domain of the page.
  FaultRouter glued(fakes.hostPort());
  glued.route(kBadEncoded, FaultRouter::altered([](HttpAnswer& answer) {
                std::string& page = answer.body;
                std::size_t second = page.find("<tr class=\"row\">");
                second = page.find("<tr class=\"row\">", second + 1);
                page.insert(second, "\x81");
                page += "\xD6";
              }));
  view.messageBoxes.clear();
  RunRecord gluedRecord = run(glued.endpoints());
  std::vector<std::string> badGbk;
  for (const auto& d : badDomains)
    badGbk.push_back(utf8ToGbk(d));
  const std::vector<std::string> found = lines(view.cellText(1, 1));
  EXPECT_TRUE(isOrderedSubset(found, badGbk)) << view.cellText(1, 1);
  EXPECT_GE(found.size(), badGbk.size() - 1);
  expectRunWentOn(gluedRecord, LookupOutcome::kFound, view.cellText(1, 1));
}

// ---- The server answers, but not with a result page ----

TEST_F(FaultMatrixTest, Status500WithABody) {
  // An error page says nothing about the address: it is retried like an
  // empty answer, and the address ends as failed, not as "no domains".
  router->route(kBadEncoded,
                FaultRouter::answer(HttpAnswer{
                    .status = 500,
                    .reason = "Internal Server Error",
                    .headers = {{"Content-Type", "text/html; charset=utf-8"}},
                    .body = "<html><body><h1>500</h1><p>服务器内部错误</p></body></html>"}));
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFailed, gbk("查询失败：服务器错误"));
  EXPECT_EQ(badHits(), 10u);
  EXPECT_LT(record.rowSeconds(1), 10 * kQuickFetchSeconds);
}

TEST_F(FaultMatrixTest, RedirectLoop) {
  // Every request of the address is sent back to itself. The request object
  // follows ten redirects and then gives up; the page has ten attempts.
  router->route(kBadEncoded, [this](FaultRouter::Exchange& exchange) {
    FaultRouter::redirect(router->url(exchange.request().target))(exchange);
  });
  RunRecord record = run(router->endpoints());

  expectRunWentOn(record, LookupOutcome::kFailed, gbk("查询失败：连接失败"));
  EXPECT_EQ(badHits(), 10u * 11u);
  EXPECT_LT(record.rowSeconds(1), 10 * kQuickFetchSeconds);
}

TEST_F(FaultMatrixTest, RedirectToAnotherHostDropsTheCookie) {
  // 站长 with the sign-in cookie; the bad address's page moves to another
  // host (another name and port, relaying to the same fakes).
  FaultRouter otherHost(fakes.hostPort());
  router->route(kBadEncoded, [&otherHost](FaultRouter::Exchange& exchange) {
    FaultRouter::redirect("http://localhost:" + std::to_string(otherHost.port()) +
                          exchange.request().target)(exchange);
  });
  view.selectAizhan(false);
  const Text cookie = "chinaz_auth=signed-in; sid=secret";
  RunRecord record = run(router->endpoints(), cookie);

  expectRunWentOn(record, LookupOutcome::kFound, joined(badDomains));
  EXPECT_EQ(badHits(), 1u);
  EXPECT_EQ(otherHost.requestCount(), 1u);
  std::size_t badRequests = 0;
  for (const auto& request : fakes.requests(FakeSite::kChinaz)) {
    SCOPED_TRACE(request.target);
    if (request.target.find(kBadEncoded) != std::string::npos) {
      ++badRequests;
      EXPECT_EQ(request.header("Cookie"), "");
    } else {
      EXPECT_EQ(request.header("Cookie"), cookie);
    }
  }
  EXPECT_EQ(badRequests, 1u);
  EXPECT_LT(record.rowSeconds(1), kQuickFetchSeconds);
}

// ---- A very large answer ----

TEST_F(FaultMatrixTest, ResultPageOfFiftyThousandRows) {
  const std::vector<std::string> many = numberedDomains("big", 50000);
  fakes.setAddress(FakeSite::kAizhan, kBad, {.domains = many, .perPage = 50000});
  // The fake takes a while to write 10 MB under the sanitizers; the time
  // limit is not what this test is about.
  RunRecord record = run(fakes.endpoints(), {}, 10.0f * static_cast<float>(kHeavyWorkFactor));

  expectRunWentOn(record, LookupOutcome::kFound, joined(many));
  // About 10 MB of markup, fetched, decoded and taken apart row by row.
  // A bound for a walk gone wrong (quadratic, stuck), not a benchmark:
  // the figure itself is the benchmark program's.
  EXPECT_LT(record.rowSeconds(1), 20.0 * kHeavyWorkFactor);
}

// ---- Straight at the page fetch, where the engine adds only its retries ----

// A gzip stream of `size` bytes "x", made block by block at the fastest level.
std::string gzippedFill(std::size_t size) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  const std::string block(1 << 20, 'x');
  std::string out;
  char buffer[1 << 16];
  std::size_t left = size;
  int flush = Z_NO_FLUSH;
  do {
    const std::size_t take = std::min(left, block.size());
    left -= take;
    flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
    stream.avail_in = static_cast<uInt>(take);
    do {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      deflate(&stream, flush);
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&stream);
  return out;
}

TEST(FetchPageFaultMatrix, CompressedBodyThatInflatesPastTheLimitComesBackEmpty) {
  // A small body on the wire that would inflate beyond what any page may
  // hold: the fetch gives up on it instead of following it into memory.
  const std::string bomb = gzippedFill(kMaxResponseBodyBytes + 1);
  ASSERT_LT(bomb.size(), 1u << 20);
  testing::TestServer server;
  server.reply("/bomb", testing::Reply{.headers = {{"Content-Type", "text/html"},
                                                   {"Content-Encoding", "gzip"}},
                                       .body = bomb});
  ComHttp http;
  http.createRequest();
  const auto start = Clock::now();
  EXPECT_EQ(http.fetchPage(server.url("/bomb"), {.timeoutSeconds = kFetchSeconds}), "");
  // Gives up at the limit instead of inflating on: far below what following
  // the stream would cost, even on a busy machine.
  EXPECT_LT(secondsBetween(start, Clock::now()), 10.0 * kHeavyWorkFactor);
  EXPECT_EQ(server.requestCount(), 1u);
}

}  // namespace
}  // namespace qarvo
