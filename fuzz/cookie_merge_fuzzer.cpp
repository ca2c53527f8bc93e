// Fuzz target: the cookie texts. mergeCookies over any old and new cookie
// texts, and the readings of Set-Cookie lines over any response head.
//
// Invariants:
//   * a merge holds no blank but those after its ";"; for ASCII texts also no empty item, no cookie
//     set to "deleted" and no item twice; every item comes from one of the
//     two texts, and every new item (unless deleted) is in it;
//   * merging the result with nothing gives it back; an old cookie whose name
//     the new text mentions never survives;
//   * the Set-Cookie readings never run past their line: no CR or LF in the
//     cookies; the page fetch's and the internet library's texts end in "; "
//     when they are not empty; the function interface's does not.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/text.h"
#include "web/cookie_text.h"

namespace qarvo {
namespace {

// The items of a cookie text: blanks removed, split at ";", empty ones left out.
std::vector<std::string> itemsOf(std::string_view cookies) {
  std::vector<std::string> items;
  std::string item;
  for (char c : cookies) {
    if (c == ';') {
      if (!item.empty())
        items.push_back(item);
      item.clear();
    } else if (c != ' ' && c != '\t') {
      item += c;
    }
  }
  if (!item.empty())
    items.push_back(item);
  return items;
}

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

std::string nameOf(const std::string& item) {
  return item.substr(0, item.find('='));
}

bool contains(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

void checkMerge(const Text& oldCookies, const Text& newCookies) {
  const Text merged = mergeCookies(oldCookies, newCookies);
  // The only blanks are those of the "; " between items.
  FUZZ_CHECK(merged.find('\t') == Text::npos);
  for (std::size_t i = 0; i < merged.size(); ++i) {
    if (merged[i] == ' ')
      FUZZ_CHECK(i > 0 && merged[i - 1] == ';');
  }
  // Items are split character by character: a ";" after a lead byte is part
  // of a double-byte character. The item checks below read ASCII only.
  if (!isAscii(oldCookies) || !isAscii(newCookies))
    return;
  FUZZ_CHECK(!merged.starts_with(";") && !merged.ends_with(";"));
  FUZZ_CHECK(merged.find(";;") == Text::npos);

  const std::vector<std::string> result = itemsOf(merged);
  const std::vector<std::string> olds = itemsOf(oldCookies);
  const std::vector<std::string> news = itemsOf(newCookies);
  std::vector<std::string> newNames;
  for (const std::string& item : news)
    newNames.push_back(nameOf(item));
  for (std::size_t i = 0; i < result.size(); ++i) {
    const std::string& item = result[i];
    FUZZ_CHECK(!item.ends_with("=deleted"));
    FUZZ_CHECK(std::count(result.begin(), result.end(), item) == 1);
    FUZZ_CHECK(contains(news, item) || (contains(olds, item) && !contains(newNames, nameOf(item))));
  }
  for (const std::string& item : news) {
    if (!item.ends_with("=deleted"))
      FUZZ_CHECK(contains(result, item));
  }
  FUZZ_CHECK(mergeCookies("", merged) == merged);
  FUZZ_CHECK(mergeCookies(merged, "") == merged);
}

void checkHeaders(const Text& headers) {
  const Text lines = setCookieLinesOf(headers);
  FUZZ_CHECK(lines.empty() || (lines.starts_with("Set-Cookie:") && lines.ends_with("\r\n")));
  const Text page = responseCookiesOf(headers);
  FUZZ_CHECK(page.empty() || page.ends_with("; "));
  FUZZ_CHECK(page.find("\r\n") == Text::npos);
  const Text returned = returnedCookiesOf(headers);
  FUZZ_CHECK(!breaksHeaderLine(returned));
  FUZZ_CHECK(!returned.ends_with("; "));
  const Text internet = internetCookiesOf(headers);
  FUZZ_CHECK(!breaksHeaderLine(internet));
  FUZZ_CHECK(internet.empty() || internet.ends_with("; "));
  const Text name = headers.substr(0, headers.find_first_of("=;\r\n"));
  FUZZ_CHECK(responseCookieValueOf(headers, name).find_first_of(";\r\n") == Text::npos);
  FUZZ_CHECK(breaksHeaderLine(headers) == (headers.find_first_of("\r\n") != Text::npos));
}

}  // namespace
}  // namespace qarvo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const qarvo::Text oldCookies = input.ConsumeRandomLengthString(1024);
  const qarvo::Text newCookies = input.ConsumeRandomLengthString(1024);
  const qarvo::Text headers = input.ConsumeRemainingBytesAsString();
  qarvo::checkMerge(oldCookies, newCookies);
  qarvo::checkMerge(headers, oldCookies);
  qarvo::checkHeaders(headers);
  qarvo::checkHeaders(oldCookies);
  return 0;
}
