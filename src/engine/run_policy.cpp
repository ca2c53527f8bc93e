#include "engine/run_policy.h"

#include "platform/code_page.h"

namespace qarvo {

namespace {

PolicyAnswer refused(const char* utf8Reason) {
  return {PolicyAnswer::kRefused, gbk(utf8Reason)};
}

const char* busyText(Activity busyWith) {
  switch (busyWith) {
    case Activity::kRun:
    case Activity::kSingleQuery:
      return "正在查询";
    case Activity::kSort:
      return "正在排序";
    case Activity::kSave:
      return "正在保存";
    case Activity::kIdle:
      break;
  }
  return "";
}

}  // namespace

PolicyAnswer userActionAnswer(Activity busyWith, UserAction action) {
  const bool listInUse = busyWith == Activity::kSort || busyWith == Activity::kSave;
  const bool lookingUp = busyWith == Activity::kRun || busyWith == Activity::kSingleQuery;
  switch (action) {
    case UserAction::kStart:
    case UserAction::kRightClickQuery:
    case UserAction::kSave:
      if (listInUse)
        return refused((std::string(busyText(busyWith)) + "，请稍候再试").c_str());
      return {};
    case UserAction::kSort:
      if (busyWith != Activity::kIdle)
        return refused((std::string(busyText(busyWith)) + "，结束后才能排序").c_str());
      return {};
    case UserAction::kEditList:
      if (busyWith == Activity::kRun)
        return {PolicyAnswer::kQueued, gbk("新的邮箱列表将在下次查询时使用")};
      return {};
    case UserAction::kChangeSettings:
      if (lookingUp)
        return {PolicyAnswer::kQueued, gbk("设置的改动将在下次查询时生效")};
      return {};
    case UserAction::kStop:
    case UserAction::kCloseWindow:
      return {};
  }
  return {};
}

}  // namespace qarvo
