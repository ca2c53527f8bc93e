#include "bench/bench_pages.h"

#include "web/decode_response.h"

namespace qarvo::bench {

namespace {

std::string pageHead(bool declareCharset) {
  std::string html = "<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n";
  if (declareCharset)
    html += "<meta charset=\"utf-8\">\r\n";
  html +=
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\r\n"
      "<title>邮箱反查 - 爱站网</title>\r\n"
      "<meta name=\"keywords\" content=\"whois反查,邮箱反查,注册人反查\">\r\n"
      "<link rel=\"stylesheet\" href=\"/static/css/common.css?v=20240131\">\r\n"
      "<style>.reverse-content table{width:100%}.reverse-content td{padding:6px 8px;"
      "border-bottom:1px solid #eee}.pager li{display:inline-block;margin:0 2px}</style>\r\n"
      "<script>var _hmt = _hmt || [];(function() {var hm = document.createElement(\"script\");"
      "hm.src = \"/hm.js?0123456789abcdef\";var s = document.getElementsByTagName(\"script\")[0];"
      "s.parentNode.insertBefore(hm, s);})();</script>\r\n"
      "</head>\r\n<body>\r\n<div class=\"header\"><div class=\"nav\"><ul>\r\n";
  for (const char* item : {"首页", "SEO综合查询", "WHOIS查询", "备案查询", "邮箱反查", "站长工具"})
    html += std::string("  <li><a href=\"/tools/\" target=\"_self\">") + item + "</a></li>\r\n";
  html +=
      "</ul></div></div>\r\n<div class=\"search-box\"><form action=\"/reverse-whois\">"
      "<input name=\"q\" value=\"owner@example.com\" /><input type=\"hidden\" name=\"t\" "
      "value=\"email\" /></form></div>\r\n";
  return html;
}

std::string resultRows(std::size_t minBytes, std::size_t already, int* domainCount) {
  std::string html =
      "<div class=\"reverse-content\">\r\n<table class=\"table\">\r\n"
      "<tr><td>序号</td><td> 域名 </td><td>注册商</td></tr>\r\n";
  static const std::string kTail =
      "</table>\r\n</div>\r\n<div class=\"pager\"><ul>\r\n"
      "<li><a href=\"/reverse-whois?q=owner%40example.com&t=email&page=2\">2</a></li>\r\n"
      "<li><a href=\"/reverse-whois?q=owner%40example.com&t=email&page=9\" title=\"尾页\">"
      "<i class=\"ico-pager-end\"></i></a></li>\r\n</ul></div>\r\n"
      "<div class=\"footer\">© 爱站网 <a href=\"/about/\">关于我们</a></div>\r\n"
      "</body>\r\n</html>\r\n";
  int domains = 0;
  for (int i = 1; already + html.size() + kTail.size() < minBytes; ++i) {
    const std::string name = (i % 7 == 0 ? std::to_string(i % 1000) : std::string()) + "site" +
                             std::to_string(i) + (i % 3 == 0 ? ".cn" : ".com");
    html += "<tr class=\"row\">\r\n  <td>" + std::to_string(i) +
            "</td>\r\n  <td> \r\n\xE3\x80\x80<a href=\"http://www." + name +
            "/\" target=\"_blank\">" + name +
            "</a>\r\n  </td>\r\n  <td><a href=\"/r?x=1\">注册商有限公司</a></td>\r\n</tr>\r\n";
    ++domains;
    if (i % 50 == 0) {
      // A hidden entry: the domain cell holds blanks only.
      html += "<tr><td></td><td> \xE3\x80\x80 \r\n</td><td></td></tr>\r\n";
    }
  }
  *domainCount = domains;
  return html + kTail;
}

}  // namespace

std::string aizhanPageUtf8(std::size_t minBytes, int* domainCount) {
  std::string html = pageHead(true);
  html += resultRows(minBytes, html.size(), domainCount);
  return html;
}

std::string undeclaredUtf8Page(std::size_t minBytes) {
  std::string html = pageHead(false);
  int domains = 0;
  html += resultRows(minBytes, html.size(), &domains);
  return html;
}

Text decodeAndExtract(const Bytes& body, PageExtractor& extractor) {
  const Text page = decodeResponse(body, 0);
  return extractor.domains(Service::kAizhan, page);
}

int countLines(const Text& joined) {
  if (joined.empty())
    return 0;
  int lines = 1;
  for (std::size_t at = joined.find("\r\n"); at != Text::npos; at = joined.find("\r\n", at + 2))
    ++lines;
  return lines;
}

}  // namespace qarvo::bench
