// A run that asks both services, against a run of each alone. The fakes are
// slow per address, 爱站 for some addresses and 站长 for the others, so a
// both-run that went address by address in step (each address waiting for
// the slower service) would take the slow pages of both; side by side, each
// service keeps its own pace and the run lasts as long as the slower service
// alone. The run fails when it takes more than 1.1 times that.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "engine/lookup_core.h"
#include "engine/service_description.h"
#include "platform/code_page.h"
#include "testing/fake_services.h"

namespace qarvo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAddresses = 6;
constexpr int kPagesEach = 2;
constexpr int kSlowPageMs = 250;
constexpr double kMostRatio = 1.1;

struct TimedRun {
  double seconds = 0;
  RunTallies tallies;
};

TimedRun timeRun(const ServiceDescriptions& services, const std::vector<Text>& addresses,
                 Service service, bool both) {
  MonotonicClock clock;
  LookupListener listener;
  LookupSession session;
  StopFlag stop{false};
  LookupContext context{.services = services,
                        .clock = clock,
                        .listener = listener,
                        .session = session,
                        .stop = stop,
                        .keepPages = false};
  const LookupRequest request{.addresses = addresses,
                              .service = service,
                              .both = both,
                              .pageLimit = kPagesEach,
                              .intervalMs = 0};
  const Clock::time_point start = Clock::now();
  TimedRun run;
  run.tallies = runLookups(request, context);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return run;
}

void BM_BothServicesRun(benchmark::State& state) {
  testing::FakeServices fakes;
  std::vector<Text> addresses;
  for (int a = 0; a < kAddresses; ++a) {
    const std::string address = "owner" + std::to_string(a) + "@example-shop.cn";
    for (testing::FakeSite site : {testing::FakeSite::kAizhan, testing::FakeSite::kChinaz}) {
      std::vector<std::string> domains;
      for (int d = 0; d < kPagesEach * 20; ++d)
        domains.push_back((site == testing::FakeSite::kAizhan ? "az" : "cz") + std::to_string(a) +
                          "-" + std::to_string(d) + ".cn");
      // Even addresses are slow at 爱站, odd ones at 站长.
      const bool slow = (a % 2 == 0) == (site == testing::FakeSite::kAizhan);
      fakes.setAddress(site, address, {.domains = domains, .delayMs = slow ? kSlowPageMs : 0});
    }
    addresses.push_back(utf8ToGbk(address));
  }
  if (!fakes.start()) {
    state.SkipWithError("the fake services did not start");
    return;
  }
  const ServiceDescriptions services{builtInDescription(Service::kAizhan, fakes.endpoints()),
                                     builtInDescription(Service::kChinaz, fakes.endpoints())};

  TimedRun aizhan, chinaz, both;
  for (auto _ : state) {
    aizhan = timeRun(services, addresses, Service::kAizhan, false);
    chinaz = timeRun(services, addresses, Service::kChinaz, false);
    both = timeRun(services, addresses, Service::kAizhan, true);
    state.SetIterationTime(both.seconds);
  }
  const double ratio = both.seconds / std::max(aizhan.seconds, chinaz.seconds);
  state.counters["aizhan_s"] = aizhan.seconds;
  state.counters["chinaz_s"] = chinaz.seconds;
  state.counters["both_s"] = both.seconds;
  state.counters["ratio"] = ratio;
  const std::string figures = "aizhan " + std::to_string(aizhan.seconds) + " s, chinaz " +
                              std::to_string(chinaz.seconds) + " s, both " +
                              std::to_string(both.seconds) + " s, ratio " + std::to_string(ratio);
  if (aizhan.tallies.found != kAddresses || chinaz.tallies.found != kAddresses ||
      both.tallies.found != kAddresses || both.tallies.sharedDomains != 0) {
    state.SkipWithError("a run did not find every address's pages");
  } else if (ratio > kMostRatio) {
    state.SkipWithError(
        (figures + ": the services no longer go side by side at their own pace").c_str());
  }
}
BENCHMARK(BM_BothServicesRun)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qarvo
