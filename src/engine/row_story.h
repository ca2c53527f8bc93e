// What the window says of a row beyond its cells: who listed its domains
// when both services were asked, what changed since the address's previous
// look-up, and that it was taken from the history. Also the texts of a run's
// end message for both services, and an address's history for reading.
//
// None of it is ever saved: the result files hold the domains only.
#pragma once

#include <chrono>
#include <vector>

#include "engine/lookup_core.h"
#include "engine/lookup_outcome.h"
#include "platform/text.h"

namespace qarvo {

class LookupHistory;

// The story of one row (GBK). An empty story says nothing.
struct RowStory {
  // Lines for the row's tooltip, joined by "\n": the counts per service,
  // what changed since the previous look-up, where an answer came from.
  Text tip;
  // Per line of the row's domains: 1 when the domain is new since the
  // previous completed look-up of the address. Empty when there was none.
  std::vector<unsigned char> newLines;
  bool fromHistory = false;  // answered from the history, no request made

  bool empty() const { return tip.empty() && newLines.empty() && !fromHistory; }
  bool operator==(const RowStory&) const = default;
};

// A date as the window shows it: "2026-12-01", local time.
Text localDate(std::chrono::system_clock::time_point time);
// "2026-12-01 09:30", local time.
Text localMinute(std::chrono::system_clock::time_point time);

// "爱站 12 个，站长 9 个，两者共有 5 个" for a merged result's domains; empty
// for a single service's result.
Text serviceCountsText(const LookupResult& result);

// What the row of `result` says beyond its cells:
//   "来自历史记录（2026-12-01 09:30）" when the history answered it;
//   "新增 3 个，减少 1 个（与 2026-12-01 的查询相比）" when the address was
//   looked up (completed) before by the same service;
//   the counts per service of a merged result.
RowStory rowStoryOf(const LookupResult& result);

// A line of the end message of a run of both services:
// "爱站：完成 9 个邮箱，域名 12 个；站长：完成 8 个邮箱（1 个未完成），域名 9 个；两者共有 5
// 个域名" Empty for a single service's run.
Text serviceTotalsText(const RunTallies& tallies);

// An address's history as plain text (GBK, lines joined by "\r\n"): its
// look-ups, newest first (time, service, outcome, domains), then for each
// service that completed a look-up of it each domain with the dates it was
// first and last seen. Says so when the history holds nothing of it.
Text addressHistoryText(LookupHistory& history, const Text& address);

}  // namespace qarvo
