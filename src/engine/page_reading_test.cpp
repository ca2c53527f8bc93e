#include "engine/page_reading.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "engine/page_extraction.h"
#include "platform/code_page.h"
#include "text/text_between.h"

namespace qarvo {
namespace {

// Pieces of the services' pages, written in UTF-8; the reader gets them in
// GBK, as the page walk hands them over.
std::string html(const std::string& body) {
  return "<html><head><title>反查</title></head><body>\r\n" + body + "\r\n</body></html>";
}

std::string aizhanRow(const std::string& number, const std::string& second,
                      const std::string& third = "Example Registrar, Inc.") {
  return "<tr class=\"row\">\r\n  <td>" + number + "</td>\r\n  <td>" + second +
         "</td>\r\n  <td><a href=\"/r?x=1\">" + third + "</a></td>\r\n</tr>\r\n";
}

std::string aizhanBlock(const std::string& rows) {
  return "<div class=\"reverse-content\">\r\n<table class=\"table\">\r\n"
         "<tr><td>序号</td><td> 域名 </td><td>注册商</td></tr>\r\n" +
         rows + "</table>\r\n</div>\r\n";
}

const std::string kAizhanPager =
    "<div class=\"pager\"><ul>\r\n"
    "<li><a href=\"/reverse-whois?q=a%40b.com&t=email&page=2\">2</a></li>\r\n"
    "<li><a href=\"/reverse-whois?q=a%40b.com&t=email&page=7\" title=\"尾页\">"
    "<i class=\"ico-pager-end\"></i></a></li>\r\n</ul></div>\r\n";

std::string chinazEntry(const std::string& domainCell) {
  return "<li class=\"ReLists clearfix\"><div class=\"w13-0 Domain\">" + domainCell +
         "</div><div class=\"w30-0\"><span>Example Registrar</span></div></li>\r\n";
}

std::string chinazBlock(const std::string& entries) {
  return "<div id=\"ajaxInfo\" class=\"ResultBox\">\r\n<ul class=\"ResultListWrap\">\r\n"
         "<li class=\"ReListTitle\"><div class=\"w13-0 domain\">域名</div>"
         "<div class=\"w30-0\">注册商</div></li>\r\n" +
         entries + "</ul>\r\n</div>\r\n";
}

const std::string kChinazPager =
    "<div class=\"PageBox\"><a href=\"/reverse?host=a&page=2\">下一页</a>"
    "<span class=\"col-gray02\">共12页，到第<input type=\"text\" value=\"1\" />页</span></div>";

struct PageCase {
  const char* name;
  Service service;
  std::string page;  // UTF-8
  int status;
  PageKind kind;
  std::string domains;  // UTF-8
  int totalPages;
  std::string why;
};

TEST(PageReading, KindsOfPages) {
  const std::string hiddenRow = "<tr><td></td><td> 　 \r\n</td><td></td></tr>\r\n";
  const PageCase cases[] = {
      {"aizhan result", Service::kAizhan,
       html(aizhanBlock(aizhanRow("1", " \r\n　<a href=\"http://www.a.com/\">a.com</a>\r\n  ") +
                        hiddenRow + aizhanRow("2", "　<span> 张三.中国 </span>　")) +
            kAizhanPager),
       200, PageKind::kResult, "a.com\r\n张三.中国", 7, ""},
      {"aizhan heading only", Service::kAizhan, html(aizhanBlock("")), 200, PageKind::kNoData, "",
       0, ""},
      {"aizhan hidden entries only", Service::kAizhan, html(aizhanBlock(hiddenRow)), 200,
       PageKind::kNoData, "", 0, ""},
      {"no-data page", Service::kAizhan, html("<div class=\"no-data\"><p>未找到相关数据</p></div>"),
       200, PageKind::kNoData, "", 0, ""},
      {"aizhan throttle, whatever the status", Service::kAizhan,
       html("<div class=\"tips\"><p>您的查询太频繁了，请稍后再试！</p></div>"), 503,
       PageKind::kThrottle, "", 0, ""},
      {"chinaz result, status unknown", Service::kChinaz,
       html(chinazBlock(chinazEntry("<a href=\"//whois.chinaz.com/b.cn\">b.cn</a>") +
                        chinazEntry("\r\n　<a><b>例子.中国</b></a>\r\n")) +
            kChinazPager),
       0, PageKind::kResult, "b.cn\r\n例子.中国", 12, ""},
      {"chinaz result without pager", Service::kChinaz, html(chinazBlock(chinazEntry("c.com"))),
       200, PageKind::kResult, "c.com", 0, ""},
      {"chinaz throttle", Service::kChinaz,
       html("<div class=\"IcpMain02\"><p>查询过于频繁，请稍后再试</p></div>"), 200,
       PageKind::kThrottle, "", 0, ""},
      {"chinaz sign-in wall", Service::kChinaz,
       html("<div class=\"login-tip\">请<a "
            "href=\"//tool.chinaz.com/\">登录</a>后查看更多结果</div>"),
       200, PageKind::kSignInWall, "", 0, ""},
      {"403 with a result in its body", Service::kAizhan,
       html(aizhanBlock(aizhanRow("1", "a.com"))), 403, PageKind::kUnrecognised, "", 0, "HTTP 403"},
      {"verification wall", Service::kAizhan,
       html("<div class=\"verify\"><h2>请完成安全验证</h2><div id=\"captcha\"></div></div>"), 200,
       PageKind::kUnrecognised, "", 0, "no result block and no no-data text"},
      {"aizhan column shifted", Service::kAizhan,
       html(aizhanBlock(aizhanRow("1", "<a href=\"/r?x=1\">Example Registrar, Inc.</a>", "a.com"))),
       200, PageKind::kUnrecognised, "", 0,
       "entry 2 is not a domain name: \"Example Registrar, Inc.\""},
      {"chinaz entry is a date", Service::kChinaz,
       html(chinazBlock(chinazEntry("d.com") + chinazEntry("2024-01-31"))), 200,
       PageKind::kUnrecognised, "", 0, "entry 3 is not a domain name: \"2024-01-31\""},
      {"empty page", Service::kChinaz, "", 200, PageKind::kUnrecognised, "", 0, "empty page"},
  };
  const ServiceDescription aizhan = builtInDescription(Service::kAizhan);
  const ServiceDescription chinaz = builtInDescription(Service::kChinaz);
  // One reader per service for every page, as for the pages of one address.
  PageReader aizhanReader(aizhan);
  PageReader chinazReader(chinaz);
  for (const PageCase& c : cases) {
    SCOPED_TRACE(c.name);
    PageReader& reader = c.service == Service::kAizhan ? aizhanReader : chinazReader;
    const PageReading reading = reader.read(gbk(c.page), c.status);
    EXPECT_STREQ(pageKindName(reading.kind), pageKindName(c.kind));
    EXPECT_EQ(gbkToUtf8(reading.domains), c.domains);
    EXPECT_EQ(reading.domainCount,
              c.domains.empty()
                  ? 0
                  : 1 + static_cast<int>(std::count(c.domains.begin(), c.domains.end(), '\n')));
    EXPECT_EQ(reading.totalPages, c.totalPages);
    EXPECT_EQ(reading.why, c.why);
  }
}

// The pager as textBetween reads it, which announcedPages() must match.
int pagerByTextBetween(const PagerMarker& pager, TextView page) {
  int position = 0;
  Text found = textBetween(page, pager.left, pager.right, &position, pager.backward);
  if (!pager.innerLeft.empty()) {
    int inner = 0;
    found = textBetween(found, pager.innerLeft, pager.innerRight, &inner);
  }
  return std::max(0, leadingInteger(found));
}

TEST(PageReading, PagerTotals) {
  const PagerMarker aizhan = builtInDescription(Service::kAizhan).pager;
  const PagerMarker chinaz = builtInDescription(Service::kChinaz).pager;
  PagerMarker forward;
  forward.left = "[";
  forward.right = "]";
  forward.backward = false;
  PagerMarker quoted = forward;
  quoted.left = "page=\"";
  quoted.right = "\"";
  const struct {
    const char* name;
    const PagerMarker& pager;
    Text page;  // GBK
    int total;
  } cases[] = {
      {"aizhan", aizhan, gbk(kAizhanPager), 7},
      {"aizhan in capitals", aizhan,
       "<LI><A HREF=\"/R?Q=A&PAGE=8\" TITLE=\"x\"><I CLASS=\"ICO-PAGER-END\"></I></A></LI>", 8},
      // The later "<li" begins on the trail byte of a double-byte character.
      {"aizhan marker inside a character", aizhan,
       "<li><a href=\"x&page=5\">\x81<li><a href=\"x&page=9\"><i class=\"ico-pager-end\"></i>", 5},
      {"aizhan without pager", aizhan, gbk(html(aizhanBlock(""))), 0},
      {"chinaz", chinaz, gbk("共有30条 " + kChinazPager), 12},
      // "共" is B9 B2; here those bytes end one character and begin the next.
      {"chinaz marker inside characters", chinaz, gbk("共3") + "\xCB\xB9\xB2\xE9" + gbk("页，到第"),
       3},
      {"forward", forward, "x [15] y [20]", 15},
      {"forward with quotes", quoted, "<a page=\"4\">", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(announcedPages(c.pager, c.page), c.total);
    EXPECT_EQ(pagerByTextBetween(c.pager, c.page), c.total);
  }
}

TEST(PageReading, PlausibleDomains) {
  const std::string label63(63, 'a');
  const std::string longest = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'd');
  const struct {
    Text text;  // GBK
    bool plausible;
  } cases[] = {
      {"example.com", true},
      {"EXAMPLE.Com", true},
      {"xn--fiqs8s.cn", true},
      {"a-b.c-d.net", true},
      {"3com.com", true},
      {gbk("张三.中国"), true},
      {gbk("ｅｘａｍｐｌｅ１.com"), true},  // full-width letters and digits
      {gbk("𠀀.cn"), true},                 // a four-byte character
      {label63 + ".com", true},
      {longest, true},
      {longest + "d", false},  // 254 bytes
      {std::string(64, 'a') + ".com", false},
      {"", false},
      {"com", false},
      {"2024-01-31", false},
      {"2024.01.31", false},
      {"10.0.0.1", false},
      {"Example Registrar", false},
      {"a..b", false},
      {".a.com", false},
      {"a.com.", false},
      {"-a.com", false},
      {"a-.com", false},
      {"a.-com", false},
      {"a_b.com", false},
      {"a.com ", false},
      {gbk("张三　.中国"), false},  // full-width space
      {gbk("张三。中国"), false},
      {gbk("（张三）.cn"), false},
      {"a.com\xD5", false},  // a lead byte without its trail byte
      {"\x80.com", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(isPlausibleDomain(c.text), c.plausible) << gbkToUtf8(c.text);
}

}  // namespace
}  // namespace qarvo
