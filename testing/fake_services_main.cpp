// fake_services: the fake 爱站 and 站长 services as a program of its own, so
// that the unchanged application can be tried and driven offline.
//
//   fake_services [port] [delay-ms] [--wall aizhan|chinaz] [--chaos SEED[:SHARE]]
//                 [--ca-file PATH]
//   http_proxy=http://127.0.0.1:8089 https_proxy=http://127.0.0.1:8089
//     SSL_CERT_FILE=PATH build/src/app/qarvo-dorvane
//
// It answers as an HTTP proxy for the real host names (whois.aizhan.com,
// whois.chinaz.com, tool.chinaz.com): a proxy request line carries the whole
// address ("GET http://whois.aizhan.com/reverse-whois?... HTTP/1.1") and is
// routed by its host; https comes through CONNECT and is answered with a
// certificate from an authority made at start-up, whose certificate the
// banner names (and --ca-file writes to PATH as well). Plain requests to the port itself are routed
// by path
// ("/reverse-whois" 爱站, "/reverse" 站长, anything else the tool site). Other
// hosts get 502: nothing leaves the machine. A few sample addresses are set up;
// the banner lists them.
//
// --wall puts a site behind its verification wall ("/verify" clears it; may
// be given twice). --chaos puts the fault router in chaos mode in front of
// the proxy: a SHARE (default 0.25) of the result pages get a fault drawn
// from SEED. The router takes a port of its own, which the banner names; the
// main port keeps answering without faults.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "testing/fake_services.h"
#include "testing/fault_router.h"
#include "testing/tls_front.h"

namespace {

using qarvo::testing::ChaosOptions;
using qarvo::testing::FakeAddress;
using qarvo::testing::FakeServices;
using qarvo::testing::FakeSite;
using qarvo::testing::FaultRouter;
using qarvo::testing::TestAuthority;
using qarvo::testing::TlsFront;

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

std::string_view hostOf(FakeSite site) {
  switch (site) {
    case FakeSite::kAizhan:
      return FakeServices::kAizhanHost;
    case FakeSite::kChinaz:
      return FakeServices::kChinazHost;
    case FakeSite::kChinazTool:
      break;
  }
  return FakeServices::kChinazToolHost;
}

// A whole number in [low, high] that is all of `text`.
bool parseNumber(const char* text, long long low, long long high, long long* value) {
  char* end = nullptr;
  *value = std::strtoll(text, &end, 10);
  return *text != '\0' && *end == '\0' && *value >= low && *value <= high;
}

struct Options {
  int port = 8089;
  int delayMs = 0;
  std::vector<FakeSite> walls;
  std::optional<ChaosOptions> chaos;
  std::string caFile;  // where the authority's certificate goes as well
};

// "SEED" or "SEED:SHARE", the share in (0, 1].
bool parseChaos(const std::string& text, ChaosOptions* chaos) {
  const size_t colon = text.find(':');
  long long seed = 0;
  if (!parseNumber(text.substr(0, colon).c_str(), 0, 0xFFFFFFFFLL, &seed))
    return false;
  chaos->seed = static_cast<unsigned>(seed);
  if (colon == std::string::npos)
    return true;
  const std::string share = text.substr(colon + 1);
  char* end = nullptr;
  chaos->share = std::strtod(share.c_str(), &end);
  return !share.empty() && *end == '\0' && chaos->share > 0 && chaos->share <= 1;
}

bool parseOptions(int argc, char** argv, Options* options) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--wall" || argument == "--chaos" || argument == "--ca-file") {
      if (i + 1 >= argc)
        return false;
      const std::string value = argv[++i];
      if (argument == "--ca-file") {
        options->caFile = value;
      } else if (argument == "--chaos") {
        ChaosOptions chaos;
        if (!parseChaos(value, &chaos))
          return false;
        options->chaos = chaos;
      } else if (value == "aizhan") {
        options->walls.push_back(FakeSite::kAizhan);
      } else if (value == "chinaz") {
        options->walls.push_back(FakeSite::kChinaz);
      } else {
        return false;
      }
      continue;
    }
    long long number = 0;
    if (positional == 0 && parseNumber(argv[i], 1, 65535, &number)) {
      options->port = static_cast<int>(number);
    } else if (positional == 1 && parseNumber(argv[i], 0, 3600000, &number)) {
      options->delayMs = static_cast<int>(number);
    } else {
      return false;
    }
    ++positional;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: %s [port] [delay-ms] [--wall aizhan|chinaz] [--chaos SEED[:SHARE]]\n"
                 "       [--ca-file PATH]\n",
                 argv[0]);
    return 2;
  }
  const int port = options.port;

  FakeServices fakes;
  // A slow service: every result page answers this much later.
  fakes.setAnswerDelay(options.delayMs);
  for (FakeSite site : options.walls)
    fakes.setWall(site, true);
  const std::vector<Sample> samples = setUpSamples(fakes);

  // The port itself is a TlsFront: https through CONNECT (or straight to the
  // port) is answered with the run-time authority's certificate and reaches
  // `secure` decrypted; everything else passes on to `plain`.
  auto makeServer = [&fakes](bool secure) {
    auto server = std::make_unique<httplib::Server>();
    server->set_keep_alive_max_count(100000);
    auto route = [&fakes, secure](const httplib::Request& incoming, httplib::Response& response) {
      httplib::Request request = incoming;
      // A proxy request: the fakes see what the site itself would have seen.
      const bool proxied = FakeServices::unwrapProxyRequest(&request);
      const std::string host = request.get_header_value("Host");
      if (!proxied && !FakeServices::siteOfHost(host)) {
        // Straight to this port: tell the sites apart by path.
        const size_t question = request.target.find('?');
        const std::string query =
            question == std::string::npos ? std::string() : request.target.substr(question + 1);
        request.headers.erase("Host");
        request.headers.emplace("Host",
                                std::string(hostOf(FakeServices::siteOfPath(request.path, query))));
      }
      if (!fakes.handle(request, response)) {
        response.status = 502;
        response.set_content("fake_services: only the look-up services' hosts are served here\n",
                             "text/plain; charset=utf-8");
        return;
      }
      const std::string shown =
          proxied || !secure ? incoming.target : "https://" + host + incoming.target;
      std::printf("%s %s -> %d\n", incoming.method.c_str(), shown.c_str(),
                  response.status > 0 ? response.status : 200);
      std::fflush(stdout);
    };
    server->Get(".*", route);
    server->Post(".*", route);
    return server;
  };
  std::unique_ptr<httplib::Server> plain = makeServer(false);
  std::unique_ptr<httplib::Server> secure = makeServer(true);
  const int plainPort = plain->bind_to_any_port("127.0.0.1");
  const int securePort = secure->bind_to_any_port("127.0.0.1");
  TlsFront front("127.0.0.1:" + std::to_string(plainPort), port,
                 "127.0.0.1:" + std::to_string(securePort));
  if (plainPort <= 0 || securePort <= 0 || !front.ready()) {
    std::fprintf(stderr, "fake_services: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  const TestAuthority& authority = TestAuthority::instance();
  std::string caFile = authority.caFile();
  if (!options.caFile.empty()) {
    if (!authority.writeCaFile(options.caFile)) {
      std::fprintf(stderr, "fake_services: cannot write %s\n", options.caFile.c_str());
      return 1;
    }
    caFile = options.caFile;
  }
  std::printf(
      "Fake 爱站 / 站长 services on 127.0.0.1:%d, also a proxy (http, and https through\n"
      "CONNECT) for whois.aizhan.com, whois.chinaz.com and tool.chinaz.com. Their https\n"
      "certificate comes from an authority made at start-up, written to\n\n"
      "  %s\n\n"
      "Start the program against it:\n\n"
      "  http_proxy=http://127.0.0.1:%d https_proxy=http://127.0.0.1:%d \\\n"
      "  SSL_CERT_FILE=%s build/src/app/qarvo-dorvane\n\n"
      "Addresses to paste into the list (按钮输入) or copy to the clipboard:\n",
      port, caFile.c_str(), port, port, caFile.c_str());
  for (const Sample& sample : samples)
    std::printf("  %-30s %s\n", sample.address.c_str(), sample.note.c_str());
  for (FakeSite site : options.walls) {
    std::printf("\n%s is behind a verification wall; %s on its host clears it.\n",
                std::string(hostOf(site)).c_str(), std::string(FakeServices::kVerifyPath).c_str());
  }
  // The router listens from here on and relays to the port above.
  std::unique_ptr<FaultRouter> router;
  if (options.chaos) {
    router = std::make_unique<FaultRouter>("127.0.0.1:" + std::to_string(port));
    router->setChaos(*options.chaos);
    std::printf(
        "\nChaos (seed %u): %.0f%% of the result pages are cut, refused, throttled (爱站 only),\n"
        "walled or reset in mid-body at\n\n"
        "  http_proxy=http://%s https_proxy=http://%s\n\n"
        "Port %d itself answers without faults.\n",
        options.chaos->seed, options.chaos->share * 100, router->hostPort().c_str(),
        router->hostPort().c_str(), port);
  }
  std::printf("\nCtrl+C stops it.\n");
  std::fflush(stdout);

  // Ctrl+C ends the process; there is nothing to put away.
  std::thread securePages([&secure] { secure->listen_after_bind(); });
  plain->listen_after_bind();
  securePages.join();
  return 0;
}
