#include "engine/lookup_outcome.h"

#include "platform/code_page.h"

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

Text outcomeNote(const LookupResult& result) {
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

}  // namespace qarvo
