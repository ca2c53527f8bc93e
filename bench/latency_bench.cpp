// A look-up run against services a round trip away: the fakes behind their
// TLS front, behind a relay that adds 100 ms of round trip. Each page costs
// one round trip at the least; a new connection costs one more, and its TLS
// handshake another: about 1.75 round trips before the first page, shared by
// every page of the run. With warm connections a run of 24 pages spends about
// 1.1 round trips a page beyond the pauses, over one connection; with a
// connection per page it spent 2.4 (plain http, before the connection cache).
// The run fails when it spends more than 1.15, or opens more than one
// connection for the service's host.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/lookup_core.h"
#include "engine/service_description.h"
#include "platform/code_page.h"
#include "testing/fake_services.h"
#include "testing/latency_relay.h"
#include "testing/tls_front.h"

namespace qarvo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRoundTrip = std::chrono::milliseconds(100);
constexpr int kAddresses = 6;
constexpr int kPagesEach = 4;
constexpr double kMostRoundTripsPerRequest = 1.15;

// The monotonic clock, minding how long the run was made to pause.
class PauseMeasuringClock : public MonotonicClock {
 public:
  void sleepUntil(TimePoint deadline, const StopFlag& stop) override {
    const TimePoint start = now();
    MonotonicClock::sleepUntil(deadline, stop);
    paused += now() - start;
  }
  Clock::duration paused{};
};

void BM_LookUpRunOverRelay100ms(benchmark::State& state) {
  testing::FakeServices fakes;
  std::vector<Text> addresses;
  for (int a = 0; a < kAddresses; ++a) {
    const std::string address = "user" + std::to_string(a) + "@example-shop.cn";
    std::vector<std::string> domains;
    for (int d = 0; d < kPagesEach * 20; ++d)
      domains.push_back("shop" + std::to_string(a) + "-" + std::to_string(d) + ".cn");
    fakes.setAddress(testing::FakeSite::kAizhan, address, {.domains = domains});
    addresses.push_back(utf8ToGbk(address));
  }
  if (!fakes.start() || !testing::TestAuthority::instance().ready()) {
    state.SkipWithError("the fake services did not start");
    return;
  }
  testing::TlsFront front(fakes.hostPort());
  testing::LatencyRelay relay(front.hostPort(), kRoundTrip);
  setenv("SSL_CERT_FILE", testing::TestAuthority::instance().caFile().c_str(), 1);
  ServiceEndpoints endpoints = fakes.endpoints();
  endpoints.scheme = "https";
  endpoints.aizhanHost = relay.hostPort();
  const ServiceDescriptions services{builtInDescription(Service::kAizhan, endpoints),
                                     builtInDescription(Service::kChinaz, endpoints)};

  double roundTripsPerRequest = 0;
  std::size_t requests = 0;
  RunTallies tallies;
  for (auto _ : state) {
    fakes.clearRequests();
    PauseMeasuringClock clock;
    LookupListener listener;
    LookupSession session;
    StopFlag stop{false};
    LookupContext context{.services = services,
                          .clock = clock,
                          .listener = listener,
                          .session = session,
                          .stop = stop,
                          .keepPages = false};
    const Clock::time_point start = Clock::now();
    tallies =
        runLookups({.addresses = addresses, .pageLimit = kPagesEach, .intervalMs = 0}, context);
    const Clock::duration spent = Clock::now() - start - clock.paused;
    requests = fakes.requests().size();
    roundTripsPerRequest = std::chrono::duration<double>(spent).count() /
                           std::chrono::duration<double>(kRoundTrip).count() /
                           static_cast<double>(std::max<std::size_t>(1, requests));
  }
  unsetenv("SSL_CERT_FILE");
  state.counters["requests"] = static_cast<double>(requests);
  state.counters["round_trips_per_request"] = roundTripsPerRequest;
  state.counters["connections_per_host"] = static_cast<double>(relay.connectionCount());
  if (tallies.found != kAddresses || requests != kAddresses * kPagesEach) {
    state.SkipWithError("the run did not find every address's pages");
  } else if (roundTripsPerRequest > kMostRoundTripsPerRequest || relay.connectionCount() > 1) {
    state.SkipWithError(("spent " + std::to_string(roundTripsPerRequest) +
                         " round trips a request over " + std::to_string(relay.connectionCount()) +
                         " connections: pages no longer share a warm connection")
                            .c_str());
  }
}
BENCHMARK(BM_LookUpRunOverRelay100ms)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qarvo
