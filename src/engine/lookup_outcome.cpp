#include "engine/lookup_outcome.h"

#include <algorithm>
#include <unordered_map>

#include "platform/code_page.h"
#include "platform/dbcs.h"

namespace qarvo {

int outcomeImage(LookupOutcome outcome) {
  switch (outcome) {
    case LookupOutcome::kFound:
      return kImageFound;
    case LookupOutcome::kNone:
      return kImageNone;
    default:
      return kImageNotCompleted;
  }
}

const char* outcomeName(LookupOutcome outcome) {
  switch (outcome) {
    case LookupOutcome::kFound:
      return "found";
    case LookupOutcome::kNone:
      return "none";
    case LookupOutcome::kFailed:
      return "failed";
    case LookupOutcome::kIncomplete:
      return "incomplete";
    case LookupOutcome::kStopped:
      return "stopped";
  }
  return "";
}

const char* reasonName(FailureReason reason) {
  switch (reason) {
    case FailureReason::kNone:
      return "";
    case FailureReason::kConnection:
      return "connection failed";
    case FailureReason::kTimeout:
      return "timed out";
    case FailureReason::kServerError:
      return "server error";
    case FailureReason::kRateLimited:
      return "rate limited";
    case FailureReason::kSignInMissing:
      return "sign-in needed";
    case FailureReason::kInvalidAddress:
      return "invalid address";
    case FailureReason::kStopped:
      return "stopped";
    case FailureReason::kUnrecognised:
      return "unrecognised page";
    case FailureReason::kEndedEarly:
      return "pages ended early";
  }
  return "";
}

Text reasonText(FailureReason reason) {
  switch (reason) {
    case FailureReason::kNone:
      return Text();
    case FailureReason::kConnection:
      return gbk("连接失败");
    case FailureReason::kTimeout:
      return gbk("超时");
    case FailureReason::kServerError:
      return gbk("服务器错误");
    case FailureReason::kRateLimited:
      return gbk("查询过于频繁");
    case FailureReason::kSignInMissing:
      return gbk("需要登录");
    case FailureReason::kInvalidAddress:
      return gbk("无效邮箱");
    case FailureReason::kStopped:
      return gbk("已停止");
    case FailureReason::kUnrecognised:
      return gbk("页面无法识别");
    case FailureReason::kEndedEarly:
      return gbk("结果页提前结束");
  }
  return Text();
}

namespace {

// The merged result's part that did not complete, or null.
const LookupResult* partNotCompleted(const LookupResult& result) {
  for (const LookupResult& answer : result.answers)
    if (serviceMask(answer.service) == result.reasonFrom)
      return &answer;
  return nullptr;
}

}  // namespace

Text outcomeNote(const LookupResult& result) {
  if (!result.completed() && result.outcome != LookupOutcome::kStopped) {
    if (const LookupResult* part = partNotCompleted(result)) {
      static const Text kAizhan = gbk("爱站：");
      static const Text kChinaz = gbk("站长：");
      return (part->service == Service::kAizhan ? kAizhan : kChinaz) + outcomeNote(*part);
    }
  }
  static const Text kFailed = gbk("查询失败：");
  static const Text kPage = gbk("第 ");
  static const Text kPageFailed = gbk(" 页查询失败：");
  static const Text kKept1 = gbk("（该页面已保存到 ");
  static const Text kKept2 = gbk("）");
  // The page the program did not recognise is the user's evidence of why.
  const Text kept = result.reason == FailureReason::kUnrecognised && !result.keptPage.empty()
                        ? kKept1 + result.keptPage + kKept2
                        : Text();
  switch (result.outcome) {
    case LookupOutcome::kFound:
    case LookupOutcome::kNone:
      return Text();
    case LookupOutcome::kStopped:
      return reasonText(FailureReason::kStopped);
    case LookupOutcome::kFailed:
      if (result.reason == FailureReason::kInvalidAddress)
        return reasonText(result.reason);
      return kFailed + reasonText(result.reason) + kept;
    case LookupOutcome::kIncomplete:
      return kPage + std::to_string(result.failedPage) + kPageFailed + reasonText(result.reason) +
             kept;
  }
  return Text();
}

std::string mergedReasonName(const LookupResult& result) {
  if (result.reasonFrom == 0 || result.outcome == LookupOutcome::kStopped)
    return reasonName(result.reason);
  const char* service = result.reasonFrom == kFromAizhan ? "aizhan" : "chinaz";
  return std::string(service) + ": " + reasonName(result.reason);
}

LookupResult mergeAnswers(LookupResult aizhan, LookupResult chinaz) {
  aizhan.service = Service::kAizhan;
  chinaz.service = Service::kChinaz;
  LookupResult merged;
  merged.service = Service::kAizhan;
  merged.pages = aizhan.pages + chinaz.pages;
  merged.announcedPages = std::max(aizhan.announcedPages, chinaz.announcedPages);
  merged.recalled = aizhan.recalled && chinaz.recalled;

  // The union in the order first seen, 爱站's first.
  std::unordered_map<std::string, size_t> seen;
  auto add = [&](const Text& domains, unsigned char from) {
    size_t start = 0;
    while (start < domains.size()) {
      size_t end = domains.find("\r\n", start);
      if (end == Text::npos)
        end = domains.size();
      const std::string_view line(domains.data() + start, end - start);
      start = end + 2;
      if (line.empty())
        continue;
      auto [at, inserted] = seen.try_emplace(asciiToLower(line), merged.sources.size());
      if (!inserted) {
        merged.sources[at->second] |= from;
        continue;
      }
      if (!merged.domains.empty())
        merged.domains += "\r\n";
      merged.domains += line;
      merged.sources.push_back(from);
    }
  };
  add(aizhan.domains, kFromAizhan);
  add(chinaz.domains, kFromChinaz);

  const bool bothCompleted = aizhan.completed() && chinaz.completed();
  if (bothCompleted) {
    merged.outcome = merged.domains.empty() ? LookupOutcome::kNone : LookupOutcome::kFound;
    merged.reason = FailureReason::kNone;
  } else {
    // The reason is the first service's that did not complete.
    const LookupResult& short_ = !aizhan.completed() ? aizhan : chinaz;
    // Both stopped short for one reason (an address that is none): no
    // service to blame.
    const bool sameReason =
        !aizhan.completed() && !chinaz.completed() && aizhan.reason == chinaz.reason;
    merged.reasonFrom = sameReason ? 0 : serviceMask(short_.service);
    merged.reason = short_.reason;
    merged.failedPage = short_.failedPage;
    merged.keptPage = short_.keptPage;
    merged.url = short_.url;
    if (aizhan.outcome == LookupOutcome::kStopped || chinaz.outcome == LookupOutcome::kStopped) {
      merged.outcome = LookupOutcome::kStopped;
      merged.reason = FailureReason::kStopped;
    } else if (merged.pages > 0 || aizhan.completed() || chinaz.completed()) {
      merged.outcome = LookupOutcome::kIncomplete;
    } else {
      merged.outcome = LookupOutcome::kFailed;
    }
  }
  merged.answers.push_back(std::move(aizhan));
  merged.answers.push_back(std::move(chinaz));
  return merged;
}

}  // namespace qarvo
