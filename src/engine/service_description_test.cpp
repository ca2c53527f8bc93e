#include "engine/service_description.h"

#include <gtest/gtest.h>

#include "engine/engine_test_support.h"
#include "engine/page_reading.h"
#include "platform/code_page.h"

namespace qarvo {
namespace {

const ServiceEndpoints kLocal{
    .aizhanHost = "127.0.0.1:81", .chinazHost = "127.0.0.1:82", .chinazToolSite = "127.0.0.1:83"};

ElementMarker element(Text tag, Text attribute, Text value, bool contains = false) {
  ElementMarker marker;
  marker.tag = std::move(tag);
  marker.attribute = std::move(attribute);
  marker.value = std::move(value);
  marker.contains = contains;
  return marker;
}

ServiceDescriptions parse(std::string_view ini, std::vector<std::string>* problems) {
  return parseServiceDescriptions(kLocal, ini, problems);
}

TEST(ServiceDescription, BuiltInsRoundTripThroughTheFile) {
  const std::string aizhanSection =
      formatServiceDescription(builtInDescription(Service::kAizhan, kLocal));
  const std::string chinazSection =
      formatServiceDescription(builtInDescription(Service::kChinaz, kLocal));
  for (const char* line : {"[aizhan]\n", "base_url = https://127.0.0.1:81\n",
                           "result_block = div class reverse-content\n", "entries = tr\n",
                           "domain_cell = td 2\n", "sign_in_url =\n", "sign_in_wall =\n",
                           "pager = <li | ico-pager-end\n", "pager_inner = &page= | \"\n"})
    EXPECT_NE(aizhanSection.find(line), std::string::npos) << line;
  for (const char* line :
       {"entries = div class ~domain\n", "domain_cell = self\n", "sign_in_free_pages = 10\n",
        "pager = 共 | 页，到第\n", "pager_inner =\n"})
    EXPECT_NE(chinazSection.find(line), std::string::npos) << line;

  // A changed description comes back as it was, over either service.
  ServiceDescription changed = builtInDescription(Service::kChinaz, kLocal);
  changed.resultBlock = element("ul", "class", "Result List");
  changed.entry = element("li", "data-kind", "~odd");
  changed.domainCell = element("span", "class", "name", true);
  changed.domainCellOccurrence = 3;
  changed.headings = {gbk("域名"), gbk("网站")};
  changed.signInWallTexts = {};
  changed.signInFreePages = 0;
  changed.pager = {
      .left = "p", .right = "q", .backward = false, .innerLeft = "x=", .innerRight = "&"};
  std::vector<std::string> problems;
  const ServiceDescriptions read =
      parse(aizhanSection + "\n" + formatServiceDescription(changed), &problems);
  EXPECT_EQ(problems, std::vector<std::string>{});
  EXPECT_TRUE(read.aizhan == builtInDescription(Service::kAizhan, kLocal));
  EXPECT_TRUE(read.chinaz == changed) << formatServiceDescription(read.chinaz);
}

TEST(ServiceDescription, OverridesReachUrlsAndReading) {
  const std::string page =
      gbk("<div class=\"reverse-list\"><table><tr><td>1</td><td>a.com</td></tr>"
          "<tr><td>2</td><td>张三.中国</td></tr></table></div>");
  const ServiceDescription builtIn = builtInDescription(Service::kAizhan, kLocal);
  EXPECT_EQ(PageReader(builtIn).read(page).kind, PageKind::kUnrecognised);

  std::vector<std::string> problems;
  const ServiceDescriptions read = parse(
      "[aizhan]\r\n"
      "result_block = DIV Class reverse-list\r\n"
      "base_url = https://mirror.example/\r\n"
      "page_path = /r?q={address}&p={page}\r\n",
      &problems);
  EXPECT_EQ(problems, std::vector<std::string>{});
  const PageReading reading = PageReader(read.aizhan).read(page);
  EXPECT_EQ(reading.kind, PageKind::kResult);
  EXPECT_EQ(gbkToUtf8(reading.domains), "a.com\r\n张三.中国");
  EXPECT_EQ(pageUrl(read.aizhan, "a%40b", 3), "https://mirror.example/r?q=a%40b&p=3");
  EXPECT_EQ(pageUrl(read.aizhan, "a%40b", 1),
            "https://mirror.example/reverse-whois?q=a%40b&t=email");
  EXPECT_EQ(resultPageUrl(read.chinaz, "x"),
            "https://127.0.0.1:82/reverse?host=x&ddlSearchMode=1&st=&startDay=&endDay="
            "&wTimefilter=$wTimefilter&page=");
}

TEST(ServiceDescription, BadLinesAreReportedAndGoodLinesStillApply) {
  const std::string ini =
      "# services\n"                            // 1
      "no_data = x\n"                           // 2
      "[aizhan]   ; the first\n"                // 3
      "no_data = 未找到相关数据 | 暂无数据\n"   // 4
      "just words\n"                            // 5
      "colour = red\n"                          // 6
      "sign_in_free_pages = -1\n"               // 7
      "result_block =\n"                        // 8
      "first_page_path = /reverse-whois?q=x\n"  // 9
      "base_url = ftp://x\n"                    // 10
      "entries = tr class\n"                    // 11
      "domain_cell = td class \"a b\n"          // 12
      "sign_in_free_pages = 3\n"                // 13
      "[baidu]\n"                               // 14
      "throttle = x\n"                          // 15
      "[chinaz]\n"                              // 16
      "throttle = 太频繁 | 查询过于频繁\n"      // 17
      "domain_cell = td class \"a b\" 2\n"      // 18
      "pager = 共\n"                            // 19
      "page_path = /reverse?host={address}\n"   // 20
      "domain_cell = self 2\n"                  // 21
      "base_url = http:///\n";                  // 22
  const struct {
    int line;
    const char* why;
  } expected[] = {
      {2, "\"no_data\" before any section ([aizhan] or [chinaz])"},
      {5, "no \"=\" (a line is \"key = value\")"},
      {6, "unknown key \"colour\""},
      {7, "sign_in_free_pages: \"-1\" is not a whole number of 0 or more"},
      {8, "result_block: empty element"},
      {9, "first_page_path: \"/reverse-whois?q=x\" has no {address}"},
      {10, "base_url: \"ftp://x\" does not start with http:// or https:// and a host"},
      {11,
       "entries: \"tr class\" is not \"tag\", \"tag attribute value\" or \"tag attribute "
       "~value\""},
      {12, "domain_cell: a double quote is not closed"},
      {14, "unknown section [baidu] (not [aizhan] or [chinaz]); the keys below it are left out"},
      {19, "pager: \"共\" is not \"left | right\""},
      {20, "page_path: \"/reverse?host={address}\" has no {page}"},
      {21, "domain_cell: \"self\" takes nothing after it"},
      {22, "base_url: \"http:\" does not start with http:// or https:// and a host"},
  };
  std::vector<std::string> problems;
  const ServiceDescriptions read = parse(ini, &problems);
  ASSERT_EQ(problems.size(), std::size(expected));
  for (std::size_t i = 0; i < problems.size(); ++i) {
    EXPECT_EQ(problems[i],
              "services.ini line " + std::to_string(expected[i].line) + ": " + expected[i].why);
  }

  ServiceDescription aizhan = builtInDescription(Service::kAizhan, kLocal);
  aizhan.noDataTexts = {gbk("未找到相关数据"), gbk("暂无数据")};
  aizhan.signInFreePages = 3;
  EXPECT_TRUE(read.aizhan == aizhan) << formatServiceDescription(read.aizhan);
  ServiceDescription chinaz = builtInDescription(Service::kChinaz, kLocal);
  chinaz.throttleTexts = {gbk("太频繁"), gbk("查询过于频繁")};
  chinaz.domainCell = element("td", "class", "a b");
  chinaz.domainCellOccurrence = 2;
  EXPECT_TRUE(read.chinaz == chinaz) << formatServiceDescription(read.chinaz);
}

TEST(ServiceDescription, NotUtf8IsOneProblem) {
  std::vector<std::string> problems;
  const ServiceDescriptions read =
      parse("[aizhan]\nsign_in_free_pages = 4\nno_data = " + gbk("暂无数据") +
                "\nheadings = " + gbk("域名") + "\nentries = li\n",
            &problems);
  EXPECT_EQ(problems, std::vector<std::string>{
                          "services.ini line 3: not UTF-8 text; lines that are not are left out "
                          "(save as UTF-8)"});
  const ServiceDescription builtIn = builtInDescription(Service::kAizhan, kLocal);
  EXPECT_EQ(read.aizhan.signInFreePages, 4);
  EXPECT_EQ(read.aizhan.entry.tag, "li");
  EXPECT_EQ(read.aizhan.noDataTexts, builtIn.noDataTexts);
  EXPECT_EQ(read.aizhan.headings, builtIn.headings);
}

TEST(ServiceDescription, LoadsTheFile) {
  TempDir dir;
  ASSERT_FALSE(dir.utf8Path().empty());
  std::vector<std::string> problems;
  ServiceDescriptions read =
      loadServiceDescriptions(kLocal, dir.utf8Path() + "/none.ini", &problems);
  EXPECT_EQ(problems, std::vector<std::string>{});
  EXPECT_TRUE(read.chinaz == builtInDescription(Service::kChinaz, kLocal));

  const std::string path = dir.utf8Path() + "/" + kServicesFileName;
  ASSERT_TRUE(
      writeWholeFile(utf8ToGbk(path), "\xEF\xBB\xBF[chinaz]\r\nsign_in_free_pages = 20\r\n"));
  read = loadServiceDescriptions(kLocal, path, &problems);
  EXPECT_EQ(problems, std::vector<std::string>{});
  EXPECT_EQ(read.chinaz.signInFreePages, 20);

  // A folder by that name is a problem, not a missing file.
  read = loadServiceDescriptions(kLocal, dir.utf8Path(), &problems);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("services.ini: cannot be read", 0), 0u) << problems[0];
  EXPECT_EQ(read.chinaz.signInFreePages, 10);
}

}  // namespace
}  // namespace qarvo
