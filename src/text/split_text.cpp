#include "text/split_text.h"

#include "platform/dbcs.h"

namespace qarvo {

std::vector<Text> splitText(TextView text, TextView separator) {
  std::vector<Text> parts;
  if (text.empty())
    return parts;
  if (separator.empty()) {
    parts.emplace_back(text);
    return parts;
  }
  std::size_t pieceStart = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, separator.size(), separator) == 0 &&
        !cutsFourByteCharacter(text, i, separator.size())) {
      parts.emplace_back(text.substr(pieceStart, i - pieceStart));
      i += separator.size();
      pieceStart = i;
    } else {
      i += charLength(text, i);
    }
  }
  if (pieceStart < text.size())
    parts.emplace_back(text.substr(pieceStart));
  return parts;
}

}  // namespace qarvo
