#include "platform/message_box.h"

#include <utility>

namespace qarvo {

namespace {
MessageBoxHandler& handler() {
  static MessageBoxHandler current;
  return current;
}
}  // namespace

void setMessageBoxHandler(MessageBoxHandler h) {
  handler() = std::move(h);
}

int showMessageBox(const Text& text, const Text& title, unsigned style) {
  if (!handler())
    return 1;
  return handler()(text, title, style);
}

}  // namespace qarvo
