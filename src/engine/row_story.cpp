#include "engine/row_story.h"

#include <algorithm>
#include <ctime>
#include <string>

#include "engine/lookup_history.h"
#include "platform/code_page.h"

namespace qarvo {

namespace {

Text timeText(std::chrono::system_clock::time_point time, const char* format) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  char text[32] = {};
  if (localtime_r(&seconds, &local) == nullptr ||
      std::strftime(text, sizeof text, format, &local) == 0)
    return Text();
  return Text(text);
}

const Text& serviceWord(Service service) {
  static const Text kAizhan = gbk("爱站");
  static const Text kChinaz = gbk("站长");
  return service == Service::kAizhan ? kAizhan : kChinaz;
}

Text outcomeWord(const HistoryEntry& entry) {
  static const Text kFound = gbk("有结果");
  static const Text kNone = gbk("无结果");
  static const Text kStopped = gbk("已停止");
  static const Text kFailed = gbk("失败：");
  static const Text kIncomplete = gbk("未完成：");
  switch (entry.outcome) {
    case LookupOutcome::kFound:
      return kFound;
    case LookupOutcome::kNone:
      return kNone;
    case LookupOutcome::kStopped:
      return kStopped;
    case LookupOutcome::kFailed:
      return kFailed + reasonText(entry.reason);
    case LookupOutcome::kIncomplete:
      return kIncomplete + reasonText(entry.reason);
  }
  return Text();
}

int lineCount(const Text& domains) {
  int lines = 0;
  size_t start = 0;
  while (start < domains.size()) {
    size_t end = domains.find("\r\n", start);
    if (end == Text::npos)
      end = domains.size();
    if (end > start)
      ++lines;
    start = end + 2;
  }
  return lines;
}

void addLine(Text* text, const Text& line) {
  if (line.empty())
    return;
  if (!text->empty())
    *text += "\n";
  *text += line;
}

}  // namespace

Text localDate(std::chrono::system_clock::time_point time) {
  return timeText(time, "%Y-%m-%d");
}

Text localMinute(std::chrono::system_clock::time_point time) {
  return timeText(time, "%Y-%m-%d %H:%M");
}

Text serviceCountsText(const LookupResult& result) {
  static const Text kAizhan = gbk("爱站 ");
  static const Text kChinaz = gbk(" 个，站长 ");
  static const Text kBoth = gbk(" 个，两者共有 ");
  static const Text kUnit = gbk(" 个");
  if (result.answers.size() != 2)
    return Text();
  int aizhan = 0, chinaz = 0, both = 0;
  for (unsigned char source : result.sources) {
    aizhan += (source & kFromAizhan) != 0 ? 1 : 0;
    chinaz += (source & kFromChinaz) != 0 ? 1 : 0;
    both += source == kFromBoth ? 1 : 0;
  }
  return kAizhan + std::to_string(aizhan) + kChinaz + std::to_string(chinaz) + kBoth +
         std::to_string(both) + kUnit;
}

RowStory rowStoryOf(const LookupResult& result) {
  static const Text kFromHistory1 = gbk("来自历史记录（");
  static const Text kFromHistory2 = gbk("）");
  static const Text kAdded = gbk("新增 ");
  static const Text kGone = gbk(" 个，减少 ");
  static const Text kSince1 = gbk(" 个（与 ");
  static const Text kSince2 = gbk(" 的查询相比）");
  RowStory story;
  const HistoryNote& note = result.history;
  if (note.fromHistory) {
    story.fromHistory = true;
    addLine(&story.tip, kFromHistory1 + localMinute(note.answeredAt) + kFromHistory2);
  } else if (note.since && result.completed()) {
    const int lines = lineCount(result.domains);
    // The marks belong to the lines on screen; a note that does not match
    // them marks nothing rather than the wrong domains.
    if (static_cast<int>(note.isNew.size()) == lines)
      story.newLines = note.isNew;
    const int added = static_cast<int>(std::count(note.isNew.begin(), note.isNew.end(), 1));
    addLine(&story.tip, kAdded + std::to_string(added) + kGone + std::to_string(note.gone) +
                            kSince1 + localDate(*note.since) + kSince2);
  }
  addLine(&story.tip, serviceCountsText(result));
  return story;
}

Text serviceTotalsText(const RunTallies& tallies) {
  static const Text kCompleted = gbk("：完成 ");
  static const Text kAddresses = gbk(" 个邮箱");
  static const Text kNotCompleted1 = gbk("（");
  static const Text kNotCompleted2 = gbk(" 个未完成）");
  static const Text kDomains1 = gbk("，域名 ");
  static const Text kDomains2 = gbk(" 个；");
  static const Text kShared1 = gbk("两者共有 ");
  static const Text kShared2 = gbk(" 个域名");
  if (tallies.byService.empty())
    return Text();
  Text text;
  for (const RunTallies::OfService& side : tallies.byService) {
    text += serviceWord(side.service) + kCompleted + std::to_string(side.completed) + kAddresses;
    if (side.notCompleted > 0)
      text += kNotCompleted1 + std::to_string(side.notCompleted) + kNotCompleted2;
    text += kDomains1 + std::to_string(side.domains) + kDomains2;
  }
  return text + kShared1 + std::to_string(tallies.sharedDomains) + kShared2;
}

Text addressHistoryText(LookupHistory& history, const Text& address) {
  static const Text kNothing = gbk("查询历史中没有这个邮箱。");
  static const Text kLookups = gbk("查询记录（最新的在前）：");
  static const Text kPages1 = gbk("，");
  static const Text kPages2 = gbk(" 页，");
  static const Text kDomains = gbk(" 个域名");
  static const Text kSeen = gbk(" 查到的域名（首次 — 最近一次查到）：");
  static const Text kDash = gbk(" — ");
  const std::vector<HistoryEntry> lookups = history.lookups(address);
  if (lookups.empty())
    return kNothing;
  Text text = kLookups;
  for (const HistoryEntry& entry : lookups) {
    text += "\r\n  " + localMinute(entry.time) + "  " + serviceWord(entry.service) + "  " +
            outcomeWord(entry) + kPages1 + std::to_string(entry.pagesRead) + kPages2 +
            std::to_string(lineCount(entry.domains)) + kDomains;
  }
  for (Service service : {Service::kAizhan, Service::kChinaz}) {
    const std::vector<LookupHistory::DomainSeen> seen = history.domainsSeen(service, address);
    if (seen.empty())
      continue;
    text += "\r\n\r\n" + serviceWord(service) + kSeen;
    for (const LookupHistory::DomainSeen& domain : seen)
      text += "\r\n  " + domain.domain + "  " + localDate(domain.first) + kDash +
              localDate(domain.last);
  }
  return text;
}

}  // namespace qarvo
