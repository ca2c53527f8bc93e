#include "web/cookie_text.h"

#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/dbcs.h"

namespace qarvo {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

TextView trimBlanks(TextView text) {
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// Calls `each` with every line of a header text. Lines end at every CR LF,
// byte for byte: header text is no code-page text, and a line that ends in a
// byte of 0x80 or above must not swallow the next one.
template <typename Each>
void forEachHeaderLine(TextView headers, Each each) {
  std::size_t at = 0;
  while (at < headers.size()) {
    std::size_t end = headers.find("\r\n", at);
    if (end == TextView::npos)
      end = headers.size();
    each(headers.substr(at, end - at));
    at = end + 2;
  }
}

// `text` cut at every `separator` byte, with splitText's rules for empty
// pieces, but byte for byte: cookie text is no code-page text, and a value
// ending in a byte of 0x80 or above must not swallow the separator after it.
std::vector<Text> splitBytes(TextView text, char separator) {
  std::vector<Text> pieces;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(separator, at);
    if (end == TextView::npos)
      end = text.size();
    pieces.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return pieces;
}

// `line` without any "Set-Cookie: ", found byte for byte.
Text withoutSetCookiePrefix(TextView line) {
  constexpr TextView kPrefix = "Set-Cookie: ";
  Text out;
  out.reserve(line.size());
  std::size_t at = 0;
  for (std::size_t hit = line.find(kPrefix); hit != TextView::npos; hit = line.find(kPrefix, at)) {
    out.append(line.substr(at, hit - at));
    at = hit + kPrefix.size();
  }
  out.append(line.substr(at));
  return out;
}

// The value of a Set-Cookie line after its name, up to the first ";", trimmed.
// A stray CR or LF ends it too: a cookie handed back must never be able to
// start a header line of its own when it is sent again.
TextView cookieOfValue(TextView value) {
  return trimBlanks(value.substr(0, value.find_first_of(";\r\n")));
}

}  // namespace

Text setCookieLinesOf(TextView headers) {
  Text lines;
  forEachHeaderLine(headers, [&](TextView line) {
    if (line.starts_with("Set-Cookie:")) {
      lines += line;
      lines += "\r\n";
    }
  });
  return lines;
}

Text responseCookiesOf(TextView headers) {
  Text cookies;
  forEachHeaderLine(headers, [&](TextView line) {
    if (line.starts_with("Set-Cookie:")) {
      cookies += withoutSetCookiePrefix(line);
      cookies += "; ";
    }
  });
  return cookies;
}

Text responseCookieValueOf(TextView headers, TextView name) {
  for (TextView prefix : {TextView("Set-Cookie: "), TextView("Set-Cookie:")}) {
    Text left = Text(prefix) + Text(name) + "=";
    std::size_t at = headers.find(left);
    if (at == TextView::npos)
      continue;
    TextView value = headers.substr(at + left.size());
    // The value ends at its ";", and never runs on past its own header line.
    Text found(value.substr(0, value.find_first_of(";\r\n")));
    if (!found.empty())
      return found;
  }
  return {};
}

Text returnedCookiesOf(TextView rawHeaders) {
  Text cookies;
  forEachHeaderLine(rawHeaders, [&](TextView line) {
    // A bare "Set-Cookie" line (no ": ") names the header too, and has no value.
    if (line.substr(0, line.find(": ")) != "Set-Cookie" || line.size() <= 11)
      return;
    TextView value = cookieOfValue(line.substr(11));
    if (value.empty())
      return;
    if (!cookies.empty())
      cookies += "; ";
    cookies += value;
  });
  return cookies;
}

Text internetCookiesOf(TextView rawHeaders) {
  Text cookies;
  forEachHeaderLine(rawHeaders, [&](TextView line) {
    if (asciiToLower(line.substr(0, 11)) != "set-cookie:")
      return;
    TextView value = cookieOfValue(line.substr(11));
    if (value.empty())
      return;
    cookies += value;
    cookies += "; ";
  });
  return cookies;
}

Text locationHeaderOf(TextView rawHeaders) {
  Text location;
  forEachHeaderLine(rawHeaders, [&](TextView line) {
    if (line.starts_with("Location: "))
      location = Text(line.substr(10));
  });
  return location;
}

Text mergeCookies(TextView oldCookies, TextView newCookies) {
  auto itemsOf = [](TextView cookies) {
    Text packed;
    packed.reserve(cookies.size());
    for (char c : cookies) {
      if (!isBlank(c))
        packed += c;
    }
    return splitBytes(packed, ';');
  };
  auto nameOf = [](const Text& item) { return TextView(item).substr(0, item.find('=')); };

  std::vector<Text> items = itemsOf(newCookies);
  const std::vector<Text> oldItems = itemsOf(oldCookies);
  {
    std::unordered_set<TextView> newNames;
    for (const Text& item : items)
      newNames.insert(nameOf(item));
    std::vector<Text> carried;
    for (const Text& item : oldItems) {
      if (!newNames.contains(nameOf(item)))
        carried.push_back(item);
    }
    items.insert(items.end(), carried.begin(), carried.end());
  }

  Text merged;
  std::unordered_set<TextView> kept;
  for (const Text& item : items) {
    if (item.empty() || item.ends_with("=deleted"))
      continue;
    if (!kept.insert(item).second)
      continue;
    if (!merged.empty())
      merged += "; ";
    merged += item;
  }
  return merged;
}

bool breaksHeaderLine(TextView text) {
  return text.find_first_of("\r\n") != TextView::npos;
}

}  // namespace qarvo
