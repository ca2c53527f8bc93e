// The book of a run, kept on the thread that runs it: which addresses ended
// how, the files written, the history written and read, and the events that
// tell the front end.
//
// A run of one service and a run of both keep their books alike; only what
// ends an address differs (a walk, or both services' answers merged).
#pragma once

#include <map>
#include <optional>

#include "engine/lookup_core.h"

namespace qarvo {

class RunBook {
 public:
  RunBook(const LookupRequest& request, LookupContext& context);

  RunTallies& tallies() { return tallies_; }
  // `progress` with the tallies so far.
  LookupProgress withTallies(LookupProgress progress) const;
  // Where the events of the run report from (the run's own, no address).
  LookupProgress where() const;

  void start();  // kRunStarted
  // Ends address `index` with `result`: saves it when asked, counts it and
  // tells the listener (kAddressEnded).
  void finish(int index, LookupResult& result);
  // Address `index` is asked again: its earlier outcome leaves the tallies.
  void takeBack(int index);
  // Final tallies; kRunEnded.
  void end();

  // The history's answer for the address by `service`, when the request
  // allows one (maxAge) and the history has one young enough.
  std::optional<LookupResult> fromHistory(Service service, const Text& address);
  // Records a look-up of the address by `service` that just ended and fills
  // `result->history` with what changed since the previous one; `*gone` gets
  // the domains gone since. A write that fails is said once per run.
  void record(Service service, const Text& address, LookupResult* result,
              std::vector<Text>* gone = nullptr);
  // For an answer from the history: when each domain was first listed.
  void noteFirstSeen(Service service, const Text& address, LookupResult* result);

 private:
  const LookupRequest& request_;
  LookupContext& context_;
  RunTallies tallies_;
  int ended_ = 0;
  std::map<int, LookupOutcome> outcomes_;  // by position: how each ended
  std::map<int, Text> keptPages_;          // by position: the page kept for a result that stands
};

// Lines of a result's domains ("\r\n"-joined).
int countLines(const Text& joined);

// One service's run over the request's addresses, kept in `book`.
void runService(const LookupRequest& request, LookupContext& context, RunBook& book);
// runLookups() of a request for both services.
RunTallies runBothServices(const LookupRequest& request, LookupContext& context);

}  // namespace qarvo
