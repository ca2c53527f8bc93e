#include "testing/fake_services.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/code_page.h"

namespace qarvo::testing {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The paddings a real result cell comes with: blanks, full-width spaces, line
// breaks, tabs and nested markup around the domain.
std::string aizhanCell(const std::string& domain, size_t index) {
  const std::string d = escapeHtml(domain);
  switch (index % 4) {
    case 0:
      return " \r\n\xE3\x80\x80<a href=\"http://www." + d + "/\" target=\"_blank\">" + d +
             "</a>\r\n  ";
    case 1:
      return "\xE3\x80\x80\xE3\x80\x80<span class = \"dm\"> " + d + " </span>\xE3\x80\x80";
    case 2:
      return "\r\n\t<a href='http://" + d + "'>\r\n " + d + "\r\n</a> ";
    default:
      return d;
  }
}

std::string chinazEntry(const std::string& domain, size_t index) {
  const std::string d = escapeHtml(domain);
  switch (index % 3) {
    case 0:
      return "<a href=\"//whois.chinaz.com/" + d + "\" target=\"_blank\">" + d + "</a>";
    case 1:
      return "\r\n  \xE3\x80\x80<a href=\"//whois.chinaz.com/" + d + "\"><b>" + d + "</b></a>\r\n";
    default:
      return " " + d + " ";
  }
}

std::string pageHead(bool gbkPage, std::string_view title = "反查") {
  return std::string(
             "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" "
             "content=\"text/html; charset=") +
         (gbkPage ? "gbk" : "utf-8") + "\" />\r\n<title>" + std::string(title) +
         "</title>\r\n</head>\r\n<body>\r\n";
}

void sendPage(httplib::Response& response, const std::string& utf8Page, bool gbkPage) {
  if (gbkPage) {
    response.set_content(utf8ToGbk(utf8Page), "text/html; charset=gbk");
  } else {
    response.set_content(utf8Page, "text/html; charset=utf-8");
  }
}

std::string noDataPage(bool gbkPage) {
  return pageHead(gbkPage) + "<div class=\"no-data\"><p>" + std::string(FakeServices::kNoDataText) +
         "</p></div>\r\n</body>\r\n</html>\r\n";
}

std::string rateLimitHtml(FakeSite site, bool gbkPage) {
  if (site == FakeSite::kChinaz) {
    return pageHead(gbkPage) + "<div class=\"IcpMain02\"><p>" +
           std::string(FakeServices::kChinazRateLimitText) +
           "，请稍后再试</p></div>\r\n</body></html>";
  }
  return pageHead(gbkPage) + "<div class=\"tips\"><p>" +
         std::string(FakeServices::kAizhanRateLimitText) +
         "，请稍后再试！</p></div>\r\n</body>\r\n</html>\r\n";
}

// What a busy service shows instead of results: neither the result block nor
// the no-data text, only a way to prove being human.
std::string wallHtml(bool gbkPage) {
  return pageHead(gbkPage, FakeServices::kWallTitle) + "<div class=\"verify-box\">\r\n<p>" +
         std::string(FakeServices::kWallText) + "</p>\r\n<p><a href=\"" +
         std::string(FakeServices::kVerifyPath) +
         "\">点击验证</a></p>\r\n</div>\r\n</body>\r\n</html>\r\n";
}

// The error page nginx sends with `status`.
void sendNginxError(httplib::Response& response, int status, std::string_view reason) {
  const std::string line = std::to_string(status) + " " + std::string(reason);
  response.status = status;
  response.set_content("<html>\r\n<head><title>" + line +
                           "</title></head>\r\n<body>\r\n<center><h1>" + line +
                           "</h1></center>\r\n<hr><center>nginx</center>\r\n</body>\r\n</html>\r\n",
                       "text/html");
}

// Whether the Cookie header holds the pair `nameValue` ("name=value").
bool hasCookie(std::string_view cookieHeader, std::string_view nameValue) {
  while (!cookieHeader.empty()) {
    const size_t semicolon = cookieHeader.find(';');
    std::string_view pair = cookieHeader.substr(0, semicolon);
    while (!pair.empty() && pair.front() == ' ')
      pair.remove_prefix(1);
    while (!pair.empty() && pair.back() == ' ')
      pair.remove_suffix(1);
    if (pair == nameValue)
      return true;
    if (semicolon == std::string_view::npos)
      break;
    cookieHeader.remove_prefix(semicolon + 1);
  }
  return false;
}

// The domains on `page` (1-based), or none beyond the last.
std::vector<std::string> domainsOfPage(const FakeAddress& answer, int page) {
  const size_t perPage = static_cast<size_t>(std::max(1, answer.perPage));
  const size_t first = static_cast<size_t>(page - 1) * perPage;
  if (page < 1 || first >= answer.domains.size())
    return {};
  const size_t last = std::min(answer.domains.size(), first + perPage);
  return {answer.domains.begin() + static_cast<std::ptrdiff_t>(first),
          answer.domains.begin() + static_cast<std::ptrdiff_t>(last)};
}

int announcedPages(const FakeAddress& answer) {
  if (answer.announcedPages > 0)
    return answer.announcedPages;
  const size_t perPage = static_cast<size_t>(std::max(1, answer.perPage));
  return static_cast<int>((answer.domains.size() + perPage - 1) / perPage);
}

std::string hostWithoutPort(std::string_view host) {
  size_t colon = host.rfind(':');
  return std::string(colon == std::string_view::npos ? host : host.substr(0, colon));
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

std::string ServiceRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name))
      return value;
  }
  return "";
}

std::string ServiceRequest::param(const std::string& name) const {
  auto it = params.find(name);
  return it == params.end() ? "" : it->second;
}

int ServiceRequest::page() const {
  std::string value = param("page");
  return value.empty() ? 1 : std::atoi(value.c_str());
}

FakeServices::FakeServices() = default;

FakeServices::~FakeServices() {
  stop();
}

void FakeServices::setAddress(FakeSite site, const std::string& address, FakeAddress answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  Plan plan;
  plan.rateLimitsLeft = answer.rateLimitedAnswers;
  plan.emptiesLeft = answer.emptyAnswers;
  plan.wallsLeft = answer.wallAnswers;
  plan.forbiddenLeft = answer.forbiddenAnswers;
  plan.notFoundLeft = answer.notFoundAnswers;
  plan.answer = std::move(answer);
  plans_[{site, address}] = std::move(plan);
}

void FakeServices::setWall(FakeSite site, bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  walls_[site] = on;
}

void FakeServices::setResultBlockName(FakeSite site, std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  blockNames_[site] = std::move(name);
}

std::string FakeServices::rateLimitPage(FakeSite site) {
  return rateLimitHtml(site, false);
}

std::string FakeServices::wallPage() {
  return wallHtml(false);
}

bool FakeServices::start(int port) {
  if (server_)
    return false;
  auto server = std::make_unique<httplib::Server>();
  // A run's pages over one connection: no cap on the requests of one.
  server->set_keep_alive_max_count(100000);
  auto route = [this](const httplib::Request& incoming, httplib::Response& response) {
    // A proxy request (through a TlsFront in front, say) is served as the
    // site itself would have seen it.
    httplib::Request request = incoming;
    unwrapProxyRequest(&request);
    if (handle(request, response))
      return;
    const size_t question = request.target.find('?');
    const std::string_view query = question == std::string::npos
                                       ? std::string_view()
                                       : std::string_view(request.target).substr(question + 1);
    serve(siteOfPath(request.path, query), request, response);
  };
  server->Get(".*", route);
  server->Post(".*", route);
  if (port == 0) {
    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0)
      return false;
  } else if (!server->bind_to_port("127.0.0.1", port)) {
    return false;
  }
  port_ = port;
  server_ = std::move(server);
  // The socket listens from bind on, so requests made right after start()
  // wait in the backlog until the loop below picks them up.
  listenerDone_ = false;
  thread_ = std::thread([this, server = server_.get()] {
    server->listen_after_bind();
    listenerDone_ = true;
  });
  return true;
}

void FakeServices::stop() {
  if (!server_)
    return;
  // stop() of a server whose loop has not started yet would be lost; wait
  // for the loop first.
  while (!server_->is_running() && !listenerDone_)
    std::this_thread::yield();
  server_->stop();
  if (thread_.joinable())
    thread_.join();
  server_.reset();
}

std::string FakeServices::hostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

ServiceEndpoints FakeServices::endpoints() const {
  ServiceEndpoints endpoints;
  endpoints.scheme = "http";
  endpoints.aizhanHost = hostPort();
  endpoints.chinazHost = hostPort();
  endpoints.chinazToolSite = hostPort();
  return endpoints;
}

std::optional<FakeSite> FakeServices::siteOfHost(std::string_view host) {
  const std::string name = hostWithoutPort(host);
  if (equalsIgnoringCase(name, kAizhanHost))
    return FakeSite::kAizhan;
  if (equalsIgnoringCase(name, kChinazHost))
    return FakeSite::kChinaz;
  if (equalsIgnoringCase(name, kChinazToolHost))
    return FakeSite::kChinazTool;
  return std::nullopt;
}

FakeSite FakeServices::siteOfPath(std::string_view path, std::string_view query) {
  if (path == "/reverse-whois")
    return FakeSite::kAizhan;
  if (path == "/reverse")
    return FakeSite::kChinaz;
  if (path != kVerifyPath)
    return FakeSite::kChinazTool;
  while (!query.empty()) {
    const size_t amp = query.find('&');
    if (query.substr(0, amp) == "site=chinaz")
      return FakeSite::kChinaz;
    if (amp == std::string_view::npos)
      break;
    query.remove_prefix(amp + 1);
  }
  return FakeSite::kAizhan;
}

bool FakeServices::handle(const httplib::Request& request, httplib::Response& response) {
  std::optional<FakeSite> site = siteOfHost(request.get_header_value("Host"));
  if (!site)
    return false;
  serve(*site, request, response);
  return true;
}

bool FakeServices::unwrapProxyRequest(httplib::Request* request) {
  const std::string scheme = "http://";
  const std::string& target = request->target;
  if (target.compare(0, scheme.size(), scheme) != 0)
    return false;
  const size_t slash = target.find('/', scheme.size());
  const std::string host = target.substr(
      scheme.size(), slash == std::string::npos ? std::string::npos : slash - scheme.size());
  const std::string rest = slash == std::string::npos ? "/" : target.substr(slash);
  request->target = rest;
  request->path = rest.substr(0, rest.find('?'));
  request->headers.erase("Host");
  request->headers.emplace("Host", host);
  return true;
}

void FakeServices::serve(FakeSite site, const httplib::Request& request,
                         httplib::Response& response) {
  ServiceRequest record;
  record.site = site;
  record.method = request.method;
  record.target = request.target;
  size_t question = request.target.find('?');
  record.path = request.target.substr(0, question);
  if (question != std::string::npos)
    record.query = request.target.substr(question + 1);
  for (const auto& [name, value] : request.headers) {
    // The server library adds the connection's own addresses; they were not sent.
    if (name == "LOCAL_ADDR" || name == "LOCAL_PORT" || name == "REMOTE_PORT")
      continue;
    record.headers.emplace_back(name, value);
  }
  for (const auto& [name, value] : request.params)
    record.params.emplace(name, value);
  const bool resultPage = site != FakeSite::kChinazTool && record.path != kVerifyPath;
  int delayMs = resultPage ? answerDelayMs_.load() : 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(record);
    const std::string address =
        site == FakeSite::kAizhan ? record.param("q") : record.param("host");
    auto plan = plans_.find({site, address});
    if (plan != plans_.end() && resultPage)
      delayMs += plan->second.answer.delayMs;
  }
  if (delayMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  switch (site) {
    case FakeSite::kAizhan:
      serveAizhan(request, response);
      break;
    case FakeSite::kChinaz:
      serveChinaz(request, response);
      break;
    case FakeSite::kChinazTool:
      serveToolSite(request, response);
      break;
  }
}

FakeServices::PageAnswer FakeServices::pageAnswer(FakeSite site, const httplib::Request& request,
                                                  const std::string& address, int page) {
  PageAnswer out;
  std::lock_guard<std::mutex> lock(mutex_);
  auto block = blockNames_.find(site);
  if (block != blockNames_.end()) {
    out.blockName = block->second;
  } else {
    out.blockName = site == FakeSite::kAizhan ? kAizhanResultBlock : kChinazResultBlock;
  }
  auto plan = plans_.find({site, address});
  if (plan != plans_.end()) {
    out.known = true;
    out.answer = plan->second.answer;
  }
  auto wall = walls_.find(site);
  if (wall != walls_.end() && wall->second &&
      !hasCookie(request.get_header_value("Cookie"), kVerifiedCookie)) {
    // The walled visitor never reaches the service: no pending answer is used up.
    out.special = Special::kWall;
    return out;
  }
  if (plan == plans_.end())
    return out;
  auto take = [page](std::map<int, int>& left) {
    auto it = left.find(page);
    if (it == left.end() || it->second <= 0)
      return false;
    --it->second;
    return true;
  };
  Plan& pending = plan->second;
  if (take(pending.emptiesLeft)) {
    out.special = Special::kEmpty;
  } else if (take(pending.rateLimitsLeft)) {
    out.special = Special::kRateLimit;
  } else if (take(pending.wallsLeft)) {
    out.special = Special::kWall;
  } else if (take(pending.forbiddenLeft)) {
    out.special = Special::kForbidden;
  } else if (take(pending.notFoundLeft)) {
    out.special = Special::kNotFound;
  }
  return out;
}

bool FakeServices::sendSpecial(FakeSite site, const PageAnswer& page, httplib::Response& response) {
  const bool gbk = page.answer.gbkPages;
  switch (page.special) {
    case Special::kPage:
      return false;
    case Special::kEmpty:
      response.set_content("", "text/html; charset=utf-8");
      break;
    case Special::kRateLimit:
      sendPage(response, rateLimitHtml(site, gbk), gbk);
      break;
    case Special::kWall:
      sendPage(response, wallHtml(gbk), gbk);
      break;
    case Special::kForbidden:
      sendNginxError(response, 403, "Forbidden");
      break;
    case Special::kNotFound:
      sendNginxError(response, 404, "Not Found");
      break;
  }
  return true;
}

void FakeServices::serveVerify(httplib::Response& response) {
  response.set_header("Set-Cookie", std::string(kVerifiedCookie) + "; Path=/");
  sendPage(response,
           pageHead(false, kVerifiedText) + "<p>" + std::string(kVerifiedText) +
               "</p>\r\n</body>\r\n</html>\r\n",
           false);
}

void FakeServices::serveAizhan(const httplib::Request& request, httplib::Response& response) {
  if (request.path == kVerifyPath) {
    serveVerify(response);
    return;
  }
  const std::string address = request.get_param_value("q");
  const std::string pageParam = request.get_param_value("page");
  const int page = pageParam.empty() ? 1 : std::atoi(pageParam.c_str());

  const PageAnswer plan = pageAnswer(FakeSite::kAizhan, request, address, page);
  if (sendSpecial(FakeSite::kAizhan, plan, response))
    return;
  const FakeAddress& answer = plan.answer;
  std::vector<std::string> domains = domainsOfPage(answer, page);
  if (!plan.known || domains.empty()) {
    sendPage(response, noDataPage(answer.gbkPages), answer.gbkPages);
    return;
  }

  // A shifted layout puts a column of its own before the row number.
  const std::string extraCell = answer.shiftedColumn ? "<td><input type=\"checkbox\" /></td>" : "";
  const size_t firstIndex =
      static_cast<size_t>(page - 1) * static_cast<size_t>(std::max(1, answer.perPage));
  std::string html = pageHead(answer.gbkPages);
  html += "<div class=\"search-box\"><input name=\"q\" value=\"" + escapeHtml(address) +
          "\" /></div>\r\n";
  html += "<div class=\"" + escapeHtml(plan.blockName) + "\">\r\n<table class=\"table\">\r\n";
  html +=
      "<tr>" + extraCell + "<td>序号</td><td> 域名 </td><td>注册商</td><td>注册时间</td></tr>\r\n";
  for (size_t i = 0; i < domains.size(); ++i) {
    const size_t index = firstIndex + i;
    html += "<tr class=\"row\">\r\n  " + extraCell + "<td>" + std::to_string(index + 1) +
            "</td>\r\n  <td>" + aizhanCell(domains[i], index) +
            "</td>\r\n  <td><a href=\"/r?x=1\">" + std::string(kRegistrarName) +
            "</a></td>\r\n  <td>2024-01-31</td>\r\n</tr>\r\n";
    if (i == 0) {
      // A row whose domain cell holds only blanks, as the site shows for
      // hidden entries.
      html +=
          "<tr>" + extraCell + "<td></td><td> \xE3\x80\x80 \r\n</td><td></td><td></td></tr>\r\n";
    }
  }
  html += "</table>\r\n</div>\r\n";
  const int total = announcedPages(answer);
  if (total > 1) {
    const std::string base = "/reverse-whois?q=" + escapeHtml(address) + "&t=email&page=";
    html += "<div class=\"pager\"><ul>\r\n";
    for (int p = 1; p <= std::min(total, 5); ++p) {
      html +=
          "<li><a href=\"" + base + std::to_string(p) + "\">" + std::to_string(p) + "</a></li>\r\n";
    }
    html += "<li><a href=\"" + base + std::to_string(total) +
            "\" title=\"尾页\"><i class=\"ico-pager-end\"></i></a></li>\r\n</ul></div>\r\n";
  }
  html += "</body>\r\n</html>\r\n";
  sendPage(response, html, answer.gbkPages);
}

void FakeServices::serveChinaz(const httplib::Request& request, httplib::Response& response) {
  if (request.path == kVerifyPath) {
    serveVerify(response);
    return;
  }
  const std::string address = request.get_param_value("host");
  const std::string pageParam = request.get_param_value("page");
  const int page = pageParam.empty() ? 1 : std::atoi(pageParam.c_str());
  const bool signedIn =
      request.get_header_value("Cookie").find(std::string(kSignInCookie)) != std::string::npos;

  const PageAnswer plan = pageAnswer(FakeSite::kChinaz, request, address, page);
  if (sendSpecial(FakeSite::kChinaz, plan, response))
    return;
  const FakeAddress& answer = plan.answer;
  if (page > 10 && !signedIn) {
    sendPage(response,
             pageHead(answer.gbkPages) +
                 "<div class=\"login-tip\">请<a href=\"//tool.chinaz.com/\">登录</a>"
                 "后查看更多结果</div>\r\n</body></html>",
             answer.gbkPages);
    return;
  }
  std::vector<std::string> domains = domainsOfPage(answer, page);
  if (!plan.known || domains.empty()) {
    sendPage(response, noDataPage(answer.gbkPages), answer.gbkPages);
    return;
  }

  const size_t firstIndex =
      static_cast<size_t>(page - 1) * static_cast<size_t>(std::max(1, answer.perPage));
  std::string html = pageHead(answer.gbkPages);
  html += "<div class=\"domain-search\"><span>" + escapeHtml(address) + "</span></div>\r\n";
  html += "<div id=\"" + escapeHtml(plan.blockName) +
          "\" class=\"ResultBox\">\r\n<ul class=\"ResultListWrap\">\r\n";
  html +=
      "<li class=\"ReListTitle\"><div class=\"w13-0 domain\">域名</div>"
      "<div class=\"w30-0\">注册商</div></li>\r\n";
  for (size_t i = 0; i < domains.size(); ++i) {
    const size_t index = firstIndex + i;
    std::string domainDiv = chinazEntry(domains[i], index);
    std::string registrarDiv = "<span>" + std::string(kRegistrarName) + "</span>";
    // A shifted layout swaps what the two divs hold.
    if (answer.shiftedColumn)
      std::swap(domainDiv, registrarDiv);
    html += "<li class=\"ReLists clearfix\"><div class=\"w13-0 Domain\">" + domainDiv +
            "</div><div class=\"w30-0\">" + registrarDiv +
            "</div><div class=\"w13-0\">2024-01-31</div></li>\r\n";
  }
  html += "</ul>\r\n</div>\r\n";
  const int total = announcedPages(answer);
  if (total > 1) {
    html += "<div class=\"PageBox\"><a href=\"/reverse?host=" + escapeHtml(address) +
            "&page=2\">下一页</a><span class=\"col-gray02\">共" + std::to_string(total) +
            "页，到第<input type=\"text\" value=\"" + std::to_string(page) +
            "\" />页</span></div>\r\n";
  }
  html += "</body>\r\n</html>\r\n";
  sendPage(response, html, answer.gbkPages);
}

void FakeServices::serveToolSite(const httplib::Request& request, httplib::Response& response) {
  const std::string host = hostWithoutPort(request.get_header_value("Host"));
  if (request.path == "/login") {
    // Signs in whoever asks; the cookie is meant for all of the service's
    // hosts when they are reached by their real names.
    std::string cookie = std::string(kSignInCookie) + "; Path=/";
    if (endsWith(host, ".chinaz.com"))
      cookie += "; Domain=.chinaz.com";
    response.set_header("Set-Cookie", cookie);
    response.set_redirect("/");
    return;
  }
  const bool signedIn =
      request.get_header_value("Cookie").find(std::string(kSignInCookie)) != std::string::npos;
  std::string html = pageHead(false);
  if (signedIn) {
    html += "<p class=\"user\">已登录。请回到查询窗口点击确定。</p>\r\n";
  } else {
    html +=
        "<form method=\"post\" action=\"/login\">\r\n"
        "<p>用户名 <input name=\"user\" value=\"demo\" /></p>\r\n"
        "<p>密码 <input type=\"password\" name=\"password\" value=\"demo\" /></p>\r\n"
        "<p><button type=\"submit\">登录</button></p>\r\n</form>\r\n";
  }
  html += "</body>\r\n</html>\r\n";
  sendPage(response, html, false);
}

std::vector<ServiceRequest> FakeServices::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<ServiceRequest> FakeServices::requests(FakeSite site) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ServiceRequest> out;
  for (const auto& request : requests_) {
    if (request.site == site)
      out.push_back(request);
  }
  return out;
}

void FakeServices::clearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

}  // namespace qarvo::testing
