#include "engine/address_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/service_endpoints.h"
#include "platform/code_page.h"

namespace qarvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> utf8(const std::vector<Text>& gbkTexts) {
  std::vector<std::string> out;
  for (const Text& text : gbkTexts)
    out.push_back(gbkToUtf8(text));
  return out;
}

TEST(PickAddresses, FindsAddressesAsPeoplePasteThem) {
  struct Case {
    std::string text;  // UTF-8
    std::vector<std::string> addresses;
  };
  const std::string tooLong = std::string(250, 'x') + "@x.com";
  const std::vector<Case> cases = {
      {"王五 <sales@demo-trade.com>", {"sales@demo-trade.com"}},
      {"a@x.cn; b@y.cn", {"a@x.cn", "b@y.cn"}},
      {"a@x.cn,b@y.cn|c@z.cn", {"a@x.cn", "b@y.cn", "c@z.cn"}},
      {"请联系 zhang.wei@例子.cn。谢谢", {"zhang.wei@例子.cn"}},
      {"（邮箱：li@x.com），或 “wang@y.com”", {"li@x.com", "wang@y.com"}},
      // Prose run on to an address from either side stays out of it.
      {"发到sales@x.com联系我们", {"sales@x.com"}},
      {"李四@例子.中国", {"李四@例子.中国"}},
      {"zhang.李四@x.cn", {"zhang.李四@x.cn"}},
      {"jörg@münchen.de", {"jörg@münchen.de"}},
      {"first.last+tag_1%x@sub.example.co.uk", {"first.last+tag_1%x@sub.example.co.uk"}},
      {"mailto:a@b.com?subject=x", {"a@b.com"}},
      {"end a@x.cn. (b@y-z.com.cn) c@d.com- .e@f.com",
       {"a@x.cn", "b@y-z.com.cn", "c@d.com", "e@f.com"}},
      {"\t　a@x.cn　\r", {"a@x.cn"}},
      {"dept/sales@a.com ../up@a.com", {"sales@a.com", "up@a.com"}},
      // Not addresses: no "@", no dot in the domain, a label ending in a
      // hyphen, nothing before the "@", too long for a mail system.
      {"a;b", {}},
      {"a@b", {}},
      {"a@x-.cn", {}},
      {"@x.cn", {}},
      {tooLong, {}},
      // 丂 is 81 40 in GBK: its trail byte is an "@", and no address.
      {"ab丂cd.cn", {}},
  };
  for (const Case& c : cases) {
    const PickedAddresses picked = pickAddresses(utf8ToGbk(c.text));
    EXPECT_EQ(utf8(picked.addresses), c.addresses) << c.text;
    EXPECT_EQ(picked.duplicates, 0) << c.text;
    EXPECT_EQ(picked.linesWithoutAddress.size(), c.addresses.empty() ? 1u : 0u) << c.text;
  }
}

TEST(PickAddresses, DropsDuplicatesOfAnyCaseAndNamesTheLines) {
  const PickedAddresses picked = pickAddresses(
      gbk("Sales@X.cn\r\n\r\n  　\r\n张三（经理）\r\nb@y.cn sales@x.CN; c@z.cn\nb@y.cn\na;b"));
  EXPECT_THAT(utf8(picked.addresses), ElementsAre("Sales@X.cn", "b@y.cn", "c@z.cn"));
  EXPECT_THAT(picked.lines, ElementsAre(1, 5, 5));
  EXPECT_EQ(picked.duplicates, 2);
  // Blank lines are no lines without an address.
  EXPECT_THAT(picked.linesWithoutAddress, ElementsAre(4, 7));
  EXPECT_THAT(pickAddresses("").addresses, IsEmpty());
}

TEST(SplitAddressList, LineBreaksAndBarsSeparate) {
  EXPECT_THAT(splitAddressList("a@x.com\r\nb@y.com\r\n"), ElementsAre("a@x.com", "b@y.com"));
  EXPECT_THAT(splitAddressList("a||b"), ElementsAre("a", "", "b"));
  EXPECT_THAT(splitAddressList("a|b\r\nc"), ElementsAre("a", "b", "c"));
  EXPECT_THAT(splitAddressList("|a"), ElementsAre("", "a"));
  EXPECT_THAT(splitAddressList("a\r\n\r\n"), ElementsAre("a", ""));
  EXPECT_THAT(splitAddressList(""), IsEmpty());
  EXPECT_THAT(splitAddressList("|"), ElementsAre(""));
  // A lone CR or LF is no separator.
  EXPECT_THAT(splitAddressList("a\nb\rc"), ElementsAre("a\nb\rc"));
}

TEST(SplitAddressList, BarAsTrailByteIsNoSeparator) {
  // 0x81 0x7C is one double-byte character whose trail byte is "|".
  const Text text = "x\x81|y|z";
  EXPECT_THAT(splitAddressList(text), ElementsAre("x\x81|y", "z"));
  // A lead byte right before CR LF swallows the CR, so the pair is no break.
  EXPECT_THAT(splitAddressList("a\x81\r\nb"), ElementsAre("a\x81\r\nb"));
}

TEST(TrimBlanks, AsciiAndFullWidthSpacesButNotTabs) {
  const Text fullWidth = "\xA1\xA1";
  EXPECT_EQ(trimBlanks("  a@b.com "), "a@b.com");
  EXPECT_EQ(trimBlanks(fullWidth + " a@b.com" + fullWidth + fullWidth), "a@b.com");
  EXPECT_EQ(trimBlanks("\ta@b.com\t"), "\ta@b.com\t");
  EXPECT_EQ(trimBlanks(" " + fullWidth + " "), "");
  EXPECT_EQ(trimBlanks(""), "");
  EXPECT_EQ(trimBlanks("a b"), "a b");
}

TEST(TrimBlanks, FullWidthPairMustStartOnACharacterBoundary) {
  // "\xB0\xA1" is one character ending in A1; the A1 A1 that follows it is a
  // full-width space, but the A1 at the very end alone is not.
  EXPECT_EQ(trimBlanks("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
  EXPECT_EQ(trimBlanks("\xA1\xB0\xA1"), "\xA1\xB0\xA1");
  // A character whose trail byte is A1 followed by a lone A1 lead byte.
  EXPECT_EQ(trimBlanks("a\xC4\xA1\xA1"), "a\xC4\xA1\xA1");
}

TEST(EncodeAddress, KeepsUnreservedBytesAndEncodesTheRest) {
  EXPECT_EQ(encodeAddress("a.b-c_d*e!(f)@x.com"), "a.b-c_d*e!(f)%40x.com");
  EXPECT_EQ(encodeAddress("a b&c=d+e/f~"), "a%20b%26c%3Dd%2Be%2Ff%7E");
  EXPECT_EQ(encodeAddress("\t\r\n"), "%09%0D%0A");
  // GBK text goes out as the percent-encoded bytes of its UTF-8 form.
  EXPECT_EQ(encodeAddress(gbk("张三@例子.中国")),
            "%E5%BC%A0%E4%B8%89%40%E4%BE%8B%E5%AD%90.%E4%B8%AD%E5%9B%BD");
  EXPECT_EQ(encodeAddress(""), "");
}

TEST(IsPlainFileName, RefusesNamesThatLeaveTheFolder) {
  EXPECT_TRUE(isPlainFileName("a@b.com"));
  EXPECT_TRUE(isPlainFileName("..a"));
  EXPECT_TRUE(isPlainFileName(gbk("张三@例子.中国")));
  EXPECT_FALSE(isPlainFileName(""));
  EXPECT_FALSE(isPlainFileName("."));
  EXPECT_FALSE(isPlainFileName(".."));
  EXPECT_FALSE(isPlainFileName("../x"));
  EXPECT_FALSE(isPlainFileName("a/b"));
  EXPECT_FALSE(isPlainFileName("..\\x"));
  EXPECT_FALSE(isPlainFileName(std::string("a\0b", 3)));
  // "/" after a lead byte is still refused; a "\" trail byte is a character.
  EXPECT_FALSE(isPlainFileName("\x81/x"));
  EXPECT_TRUE(isPlainFileName("\xD5\x5Cx"));
}

TEST(ServiceUrls, PageAndResultPageForms) {
  ServiceEndpoints real;
  EXPECT_EQ(servicePageUrl(Service::kAizhan, real, "a%40b.com", 1),
            "https://whois.aizhan.com/reverse-whois?q=a%40b.com&t=email");
  EXPECT_EQ(servicePageUrl(Service::kAizhan, real, "a%40b.com", 2),
            "https://whois.aizhan.com/reverse-whois?q=a%40b.com&t=email&page=2");
  EXPECT_EQ(servicePageUrl(Service::kChinaz, real, "a%40b.com", 1),
            "https://whois.chinaz.com/reverse?host=a%40b.com&ddlSearchMode=1&st=&startDay="
            "&endDay=&wTimefilter=$wTimefilter&page=1");
  EXPECT_EQ(serviceResultPageUrl(Service::kAizhan, real, "x"),
            "https://whois.aizhan.com/reverse-whois?q=x&t=email");
  EXPECT_EQ(serviceResultPageUrl(Service::kChinaz, real, "x"),
            "https://whois.chinaz.com/reverse?host=x&ddlSearchMode=1&st=&startDay=&endDay="
            "&wTimefilter=$wTimefilter&page=");
  EXPECT_EQ(chinazSignInUrl(real), "http://tool.chinaz.com/");
  ServiceEndpoints local{.aizhanHost = "127.0.0.1:81", .chinazHost = "127.0.0.1:82"};
  EXPECT_EQ(servicePageUrl(Service::kChinaz, local, "q", 12).rfind("https://127.0.0.1:82/", 0), 0u);
  EXPECT_EQ(servicePageUrl(Service::kAizhan, local, "q", 12),
            "https://127.0.0.1:81/reverse-whois?q=q&t=email&page=12");
}

}  // namespace
}  // namespace qarvo
