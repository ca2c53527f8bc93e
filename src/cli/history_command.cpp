#include "cli/history_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <unordered_set>

#include "cli/result_output.h"
#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/native_file.h"

namespace qarvo::cli {

namespace {

const char kHistoryFooter[] =
    "Without --domains: one line per look-up (CSV columns: " /**/
    "address, service, time, status, reason, pages, page_limit, domains = how many), newest "
    "first.\n"
    "With --domains: one line per domain and service (CSV columns: address, service, domain,\n"
    "first_seen, last_seen). Times are UTC. Exit status: 0 done; 1 the history cannot be read;\n"
    "2 usage error.\n"
    "用法：qarvo-lookup history [--domains] [-f csv|jsonl] [--history 文件] [邮箱...]\n"
    "  列出各邮箱的查询记录（不给邮箱时列出全部），新的在前；加 --domains 则列出每个域名\n"
    "  首次与最近一次出现的时间。";

void say(const std::string& text) {
  std::fprintf(stderr, "qarvo-lookup: %s\n", text.c_str());
}

}  // namespace

bool openCommandHistory(const std::string& file, LookupHistory& history,
                        const std::function<void(const std::string&)>& say) {
  const Text path = file.empty() ? historyPath() : utf8ToGbk(file);
  std::string problem;
  const bool opened = history.open(path, &problem);
  if (!opened)
    say("the history " + gbkToUtf8(path) + " cannot be used: " + problem);
  else if (!problem.empty())
    say("the history " + gbkToUtf8(path) + " was damaged: " + problem);
  return opened;
}

std::string lookupsText(const std::vector<HistoryEntry>& entries, bool jsonl) {
  std::string text = jsonl ? "" : kLookupsHeader;
  for (const HistoryEntry& entry : entries) {
    const std::vector<std::string> domains = splitDomains(entry.domains);
    const std::string address = gbkToUtf8(entry.address);
    const std::string reason = entry.completed() ? "" : reasonName(entry.reason);
    if (!jsonl) {
      text += csvField(address) + "," + serviceKey(entry.service) + "," + utcTime(entry.time) +
              "," + outcomeName(entry.outcome) + "," + csvField(reason) + "," +
              std::to_string(entry.pagesRead) + "," + std::to_string(entry.pageLimit) + "," +
              std::to_string(domains.size()) + "\n";
      continue;
    }
    text += "{\"address\":" + jsonString(address) + ",\"service\":\"" + serviceKey(entry.service) +
            "\",\"time\":\"" + utcTime(entry.time) + "\",\"status\":\"" +
            outcomeName(entry.outcome) + "\"";
    if (!reason.empty())
      text += ",\"reason\":" + jsonString(reason);
    text += ",\"pages\":" + std::to_string(entry.pagesRead) +
            ",\"page_limit\":" + std::to_string(entry.pageLimit) + ",\"domains\":[";
    for (size_t i = 0; i < domains.size(); ++i)
      text += (i > 0 ? "," : "") + jsonString(domains[i]);
    text += "]}\n";
  }
  return text;
}

std::string domainsSeenText(const std::string& address, Service service,
                            const std::vector<LookupHistory::DomainSeen>& domains, bool jsonl) {
  std::string text;
  for (const LookupHistory::DomainSeen& seen : domains) {
    const std::string domain = gbkToUtf8(seen.domain);
    if (jsonl)
      text += "{\"address\":" + jsonString(address) + ",\"service\":\"" + serviceKey(service) +
              "\",\"domain\":" + jsonString(domain) + ",\"first_seen\":\"" + utcTime(seen.first) +
              "\",\"last_seen\":\"" + utcTime(seen.last) + "\"}\n";
    else
      text += csvField(address) + "," + serviceKey(service) + "," + csvField(domain) + "," +
              utcTime(seen.first) + "," + utcTime(seen.last) + "\n";
  }
  return text;
}

int historyMain(int argc, char** argv) {
  CLI::App app("qarvo-lookup history: the look-ups kept in the history (查询历史)",
               "qarvo-lookup history");
  app.footer(kHistoryFooter);
  std::vector<std::string> addresses;
  app.add_option("ADDRESS", addresses, "Addresses to show (default: every address)")->type_name("");
  bool domains = false;
  app.add_flag("--domains", domains,
               "Each domain with when it was first and last seen, per service");
  std::string format = "csv";
  app.add_option("-f,--format", format, "csv (default) or jsonl")->type_name("FORMAT");
  std::string file;
  app.add_option("--history", file, "The history file (default: the one in the settings folder)")
      ->type_name("FILE");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& error) {
    if (std::string_view(error.what()).starts_with("--format:"))
      format = "";
    else {
      say(std::string(error.what()) +
          "\nRun 'qarvo-lookup history --help' for the options (运行 qarvo-lookup history "
          "--help 查看选项).");
      return 2;
    }
  }
  if (format != "csv" && format != "jsonl") {
    say("-f/--format wants csv or jsonl (格式应为 csv 或 jsonl)");
    return 2;
  }
  const bool jsonl = format == "jsonl";

  // Nothing kept yet: nothing to list, and no history made just to say so.
  if (!pathExists(file.empty() ? historyPath() : utf8ToGbk(file))) {
    const std::string header = jsonl ? "" : domains ? kDomainsHeader : kLookupsHeader;
    std::fputs(header.c_str(), stdout);
    return 0;
  }
  LookupHistory history;
  if (!openCommandHistory(file, history, say))
    return 1;
  const std::string problemBefore = history.lastProblem();

  std::vector<Text> wanted;
  for (const std::string& address : addresses)
    wanted.push_back(utf8ToGbk(address));
  std::string text;
  if (!domains) {
    if (wanted.empty())
      wanted.push_back(Text());
    text = lookupsText({}, jsonl);
    for (const Text& address : wanted)
      text += lookupsText(history.lookups(address), jsonl)
                  .substr(jsonl ? 0 : sizeof kLookupsHeader - 1);
  } else {
    if (wanted.empty()) {
      // Every address, the one looked up last first.
      std::unordered_set<std::string> seen;
      for (const HistoryEntry& entry : history.lookups(Text())) {
        if (seen.insert(asciiToLower(entry.address)).second)
          wanted.push_back(entry.address);
      }
    }
    text = jsonl ? "" : kDomainsHeader;
    for (const Text& address : wanted) {
      for (Service service : {Service::kAizhan, Service::kChinaz})
        text += domainsSeenText(gbkToUtf8(address), service, history.domainsSeen(service, address),
                                jsonl);
    }
  }
  if (history.lastProblem() != problemBefore) {
    say("cannot read the history: " + history.lastProblem());
    return 1;
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    say("cannot write to standard output");
    return 1;
  }
  return 0;
}

}  // namespace qarvo::cli
