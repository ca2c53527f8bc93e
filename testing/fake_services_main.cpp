// fake_services: the fake 爱站 and 站长 services as a program of its own, so
// that the unchanged application can be tried and driven offline.
//
//   fake_services [port]          (default port 8089)
//   http_proxy=http://127.0.0.1:8089 build/src/app/qarvo-dorvane
//
// It answers as an HTTP proxy for the real host names (whois.aizhan.com,
// whois.chinaz.com, tool.chinaz.com): a proxy request line carries the whole
// address ("GET http://whois.aizhan.com/reverse-whois?... HTTP/1.1") and is
// routed by its host. Plain requests to the port itself are routed by path
// ("/reverse-whois" 爱站, "/reverse" 站长, anything else the tool site). Other
// hosts get 502: nothing leaves the machine. A few sample addresses are set up;
// the banner lists them.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/fake_services.h"

namespace {

using qarvo::testing::FakeAddress;
using qarvo::testing::FakeServices;
using qarvo::testing::FakeSite;

std::vector<std::string> domainsOf(const std::string& stem, const std::vector<std::string>& tlds,
                                   int count) {
  std::vector<std::string> domains;
  for (int i = 1; i <= count; ++i)
    domains.push_back(stem + (i == 1 ? std::string() : "-" + std::to_string(i)) + "." +
                      tlds[static_cast<size_t>(i) % tlds.size()]);
  return domains;
}

struct Sample {
  std::string address;
  std::string note;
};

std::vector<Sample> setUpSamples(FakeServices& fakes) {
  const std::vector<std::string> tlds = {"com", "cn", "net", "com.cn", "org"};
  // Three 爱站 result pages (20 a page).
  fakes.setAddress(FakeSite::kAizhan, "admin@example-shop.cn",
                   {.domains = domainsOf("example-shop", tlds, 45)});
  fakes.setAddress(FakeSite::kChinaz, "admin@example-shop.cn",
                   {.domains = domainsOf("example-shop", tlds, 45)});
  // A handful, the pages in GBK.
  fakes.setAddress(FakeSite::kAizhan, "zhang.wei@例子.cn",
                   {.domains = {"zhangwei.cn", "weizhang.com", "例子.中国"}, .gbkPages = true});
  fakes.setAddress(FakeSite::kChinaz, "zhang.wei@例子.cn",
                   {.domains = {"zhangwei.cn", "weizhang.com"}, .gbkPages = true});
  // The 爱站 service complains once on page 2 (a beep and a 5 s pause).
  fakes.setAddress(FakeSite::kAizhan, "sales@demo-trade.com",
                   {.domains = domainsOf("demo-trade", tlds, 30), .rateLimitedAnswers = {{2, 1}}});
  fakes.setAddress(FakeSite::kChinaz, "sales@demo-trade.com",
                   {.domains = domainsOf("demo-trade", tlds, 30)});
  // 13 站长 pages: past page 10 the tool asks for a sign-in.
  fakes.setAddress(FakeSite::kChinaz, "hostmaster@big-holding.com",
                   {.domains = domainsOf("big-holding", tlds, 13 * 20)});
  fakes.setAddress(FakeSite::kAizhan, "hostmaster@big-holding.com",
                   {.domains = domainsOf("big-holding", tlds, 60)});
  return {
      {"admin@example-shop.cn", "45 domains, 3 pages"},
      {"zhang.wei@例子.cn", "a few domains, GBK pages"},
      {"sales@demo-trade.com", "爱站 throttles once (beep, 5 s pause)"},
      {"hostmaster@big-holding.com", "13 站长 pages: sign in past page 10"},
      {"nobody@nowhere.example", "no data"},
  };
}

}  // namespace

int main(int argc, char** argv) {
  const int port = argc > 1 ? std::atoi(argv[1]) : 8089;
  const int delayMs = argc > 2 ? std::atoi(argv[2]) : 0;
  if (port <= 0 || port > 65535 || delayMs < 0) {
    std::fprintf(stderr, "usage: %s [port] [delay-ms]\n", argv[0]);
    return 2;
  }

  FakeServices fakes;
  // A slow service: every result page answers this much later.
  fakes.setAnswerDelay(delayMs);
  const std::vector<Sample> samples = setUpSamples(fakes);

  httplib::Server server;
  auto route = [&fakes](const httplib::Request& incoming, httplib::Response& response) {
    httplib::Request request = incoming;
    // A proxy request: the fakes see what the site itself would have seen.
    const bool proxied = FakeServices::unwrapProxyRequest(&request);
    if (!proxied && !FakeServices::siteOfHost(request.get_header_value("Host"))) {
      // Straight to this port: tell the sites apart by path.
      std::string_view site = FakeServices::kChinazToolHost;
      if (request.path == "/reverse-whois")
        site = FakeServices::kAizhanHost;
      else if (request.path == "/reverse")
        site = FakeServices::kChinazHost;
      request.headers.erase("Host");
      request.headers.emplace("Host", std::string(site));
    }
    if (!fakes.handle(request, response)) {
      response.status = 502;
      response.set_content("fake_services: only the look-up services' hosts are served here\n",
                           "text/plain; charset=utf-8");
      return;
    }
    std::printf("%s %s -> %d\n", incoming.method.c_str(), incoming.target.c_str(),
                response.status > 0 ? response.status : 200);
    std::fflush(stdout);
  };
  server.Get(".*", route);
  server.Post(".*", route);

  if (!server.bind_to_port("127.0.0.1", port)) {
    std::fprintf(stderr, "fake_services: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::printf(
      "Fake 爱站 / 站长 services on 127.0.0.1:%d, also a proxy for whois.aizhan.com,\n"
      "whois.chinaz.com and tool.chinaz.com. Start the program against it:\n\n"
      "  http_proxy=http://127.0.0.1:%d build/src/app/qarvo-dorvane\n\n"
      "Addresses to paste into the list (按钮输入) or copy to the clipboard:\n",
      port, port);
  for (const Sample& sample : samples)
    std::printf("  %-30s %s\n", sample.address.c_str(), sample.note.c_str());
  std::printf("\nCtrl+C stops it.\n");
  std::fflush(stdout);

  // Ctrl+C ends the process; there is nothing to put away.
  server.listen_after_bind();
  return 0;
}
