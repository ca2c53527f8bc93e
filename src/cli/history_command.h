// qarvo-lookup history: what the look-up history holds.
//
//   qarvo-lookup history [--domains] [-f csv|jsonl] [--history FILE] [ADDRESS...]
//
// Without --domains, each look-up of the addresses (of every address when
// none is given), newest first. With --domains, each domain that completed
// look-ups of an address listed, per service, with when it was first and
// last listed. Standard output, UTF-8; times in UTC (ISO 8601).
#pragma once

#include <functional>
#include <string>

#include "engine/lookup_history.h"

namespace qarvo::cli {

// Opens the history a command uses: `file` (UTF-8), or historyPath() when it
// is empty. A damaged file moved aside is said through `say`; so is why a
// history cannot be used (false then).
bool openCommandHistory(const std::string& file, LookupHistory& history,
                        const std::function<void(const std::string&)>& say);

// The history command; `argv[0]` is "history". Returns the exit status: 0,
// 1 when the history cannot be read, 2 after a usage error.
int historyMain(int argc, char** argv);

// The lines the command prints (each ending in "\n"), without and with
// --domains; CSV starts with its header line.
std::string lookupsText(const std::vector<HistoryEntry>& entries, bool jsonl);
std::string domainsSeenText(const std::string& address, Service service,
                            const std::vector<LookupHistory::DomainSeen>& domains, bool jsonl);
inline constexpr char kLookupsHeader[] =
    "address,service,time,status,reason,pages,page_limit,domains\n";
inline constexpr char kDomainsHeader[] = "address,service,domain,first_seen,last_seen\n";

}  // namespace qarvo::cli
