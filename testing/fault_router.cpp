#include "testing/fault_router.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/dbcs.h"
#include "testing/fake_services.h"
#include "testing/test_server.h"

namespace qarvo::testing {
namespace {

// How long the relay waits for the fakes; they answer in milliseconds.
constexpr int kUpstreamLimitMs = 10000;

// Headers the router frames itself.
bool isFramingHeader(std::string_view name) {
  return sameHeaderName(name, "Content-Length") || sameHeaderName(name, "Connection") ||
         sameHeaderName(name, "Transfer-Encoding") || sameHeaderName(name, "Keep-Alive");
}

// The request head with "Connection: close" in place of any connection
// header, so that the upstream closes after its answer.
std::string closingRequest(std::string_view raw) {
  const std::size_t headEnd = raw.find("\r\n\r\n");
  if (headEnd == std::string_view::npos)
    return std::string(raw);
  std::string out;
  std::size_t at = 0;
  bool first = true;
  while (at < headEnd + 2) {
    std::size_t end = raw.find("\r\n", at);
    std::string_view line = raw.substr(at, end - at);
    at = end + 2;
    std::size_t colon = line.find(':');
    if (!first && colon != std::string_view::npos) {
      std::string_view name = trimHeaderBlanks(line.substr(0, colon));
      if (sameHeaderName(name, "Connection") || sameHeaderName(name, "Keep-Alive"))
        continue;
    }
    first = false;
    out += line;
    out += "\r\n";
  }
  out += "Connection: close\r\n\r\n";
  out += raw.substr(headEnd + 4);
  return out;
}

// Sends `request` to 127.0.0.1:port and reads until the peer closes.
std::string exchangeWith(const std::string& hostPort, const std::string& request) {
  const std::size_t colon = hostPort.rfind(':');
  const int port = std::atoi(hostPort.c_str() + (colon == std::string::npos ? 0 : colon + 1));
  int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0)
    return {};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  std::string response;
  if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string_view left = request;
    while (!left.empty()) {
      ssize_t sent = ::send(socket, left.data(), left.size(), MSG_NOSIGNAL);
      if (sent <= 0)
        break;
      left.remove_prefix(static_cast<std::size_t>(sent));
    }
    char buffer[65536];
    while (true) {
      pollfd entry{socket, POLLIN, 0};
      if (::poll(&entry, 1, kUpstreamLimitMs) <= 0)
        break;
      ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
      if (got <= 0)
        break;
      response.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(socket);
  return response;
}

std::string framed(const HttpAnswer& answer) {
  std::string out = "HTTP/1.1 " + std::to_string(answer.status) + " " + answer.reason + "\r\n";
  for (const auto& [name, value] : answer.headers)
    out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  out += "Connection: close\r\n\r\n";
  out += answer.body;
  return out;
}

// The site whose result page `target` asks for, proxy form included; none
// for anything else.
std::optional<FakeSite> resultPageSite(std::string_view target) {
  constexpr std::string_view kScheme = "http://";
  if (target.starts_with(kScheme)) {
    const std::size_t slash = target.find('/', kScheme.size());
    target = slash == std::string_view::npos ? "/" : target.substr(slash);
  }
  const std::string_view path = target.substr(0, target.find('?'));
  if (path == "/reverse-whois")
    return FakeSite::kAizhan;
  if (path == "/reverse")
    return FakeSite::kChinaz;
  return std::nullopt;
}

HttpAnswer pageAnswer(std::string body) {
  return HttpAnswer{.status = 200,
                    .reason = "OK",
                    .headers = {{"Content-Type", "text/html; charset=utf-8"}},
                    .body = std::move(body)};
}

void serveChaos(ChaosFault fault, FakeSite site, FaultRouter::Exchange& exchange) {
  RawConnection& connection = exchange.connection();
  switch (fault) {
    case ChaosFault::kNone:
      exchange.relay();
      break;
    case ChaosFault::kCut:
      break;  // the connection closes when the exchange ends
    case ChaosFault::kRefuse:
      // The request was read to pick a fault that fits its service; the
      // client sees the same reset as if it had not been.
      connection.reset();
      break;
    case ChaosFault::kThrottle:
      exchange.send(pageAnswer(FakeServices::rateLimitPage(site)));
      break;
    case ChaosFault::kWall:
      exchange.send(pageAnswer(FakeServices::wallPage()));
      break;
    case ChaosFault::kResetMidBody: {
      HttpAnswer answer = exchange.fetchUpstream();
      if (answer.status == 0) {
        connection.reset();
        break;
      }
      // Announce more than is sent even for an empty body, so that what
      // arrives is never a whole answer.
      const std::size_t declared = std::max<std::size_t>(answer.body.size(), 2);
      std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " + answer.reason + "\r\n";
      for (const auto& [name, value] : answer.headers)
        head += name + ": " + value + "\r\n";
      head += "Content-Length: " + std::to_string(declared) + "\r\n\r\n";
      connection.send(head + answer.body.substr(0, declared / 2));
      connection.pause(20);
      connection.reset();
      break;
    }
  }
}

}  // namespace

std::string HttpAnswer::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (sameHeaderName(key, name))
      return value;
  }
  return {};
}

void HttpAnswer::setHeader(const std::string& name, const std::string& value) {
  for (auto& header : headers) {
    if (sameHeaderName(header.first, name)) {
      header.second = value;
      return;
    }
  }
  headers.emplace_back(name, value);
}

bool parseResponse(std::string_view bytes, HttpAnswer* answer) {
  const std::size_t headEnd = bytes.find("\r\n\r\n");
  if (!bytes.starts_with("HTTP/") || headEnd == std::string_view::npos)
    return false;
  std::string_view head = bytes.substr(0, headEnd + 2);
  std::size_t lineEnd = head.find("\r\n");
  std::string_view statusLine = head.substr(0, lineEnd);
  std::size_t firstBlank = statusLine.find(' ');
  if (firstBlank == std::string_view::npos)
    return false;
  answer->status = std::atoi(std::string(statusLine.substr(firstBlank + 1, 3)).c_str());
  std::size_t reasonAt = statusLine.find(' ', firstBlank + 1);
  answer->reason = reasonAt == std::string_view::npos
                       ? std::string()
                       : std::string(statusLine.substr(reasonAt + 1));
  answer->headers.clear();
  std::size_t declared = std::string_view::npos;
  std::size_t at = lineEnd + 2;
  while (at < head.size()) {
    std::size_t end = head.find("\r\n", at);
    std::string_view line = head.substr(at, end - at);
    at = end + 2;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
      continue;
    std::string_view name = trimHeaderBlanks(line.substr(0, colon));
    std::string_view value = trimHeaderBlanks(line.substr(colon + 1));
    if (sameHeaderName(name, "Content-Length"))
      declared = static_cast<std::size_t>(std::strtoull(std::string(value).c_str(), nullptr, 10));
    if (isFramingHeader(name))
      continue;
    answer->headers.emplace_back(std::string(name), std::string(value));
  }
  std::string_view body = bytes.substr(headEnd + 4);
  if (declared != std::string_view::npos && body.size() > declared)
    body = body.substr(0, declared);
  answer->body = std::string(body);
  return true;
}

// ---- Exchange ----

FaultRouter::Exchange::Exchange(RawConnection& connection, RecordedRequest request, std::string raw,
                                std::string upstream)
    : connection_(connection),
      request_(std::move(request)),
      raw_(std::move(raw)),
      upstream_(std::move(upstream)) {}

HttpAnswer FaultRouter::Exchange::fetchUpstream() const {
  HttpAnswer answer;
  if (!parseResponse(exchangeWith(upstream_, closingRequest(raw_)), &answer))
    return HttpAnswer{.status = 0, .reason = {}};
  return answer;
}

bool FaultRouter::Exchange::send(const HttpAnswer& answer) {
  if (answer.status == 0)
    return false;  // nothing came from upstream: the client sees the connection close
  return connection_.send(framed(answer));
}

// ---- FaultRouter ----

FaultRouter::FaultRouter(std::string upstreamHostPort) : upstream_(std::move(upstreamHostPort)) {
  server_ = std::make_unique<RawServer>([this](RawConnection& connection) { serve(connection); });
  front_ = std::make_unique<TlsFront>(server_->hostPort());
}

FaultRouter::~FaultRouter() {
  front_.reset();
  server_.reset();
}

void FaultRouter::route(std::string needle, Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_.push_back({std::move(needle), std::move(fault)});
}

ServiceEndpoints FaultRouter::endpoints() const {
  ServiceEndpoints endpoints;
  endpoints.scheme = "http";
  endpoints.aizhanHost = hostPort();
  endpoints.chinazHost = hostPort();
  endpoints.chinazToolSite = hostPort();
  return endpoints;
}

std::vector<FaultRouter::Hit> FaultRouter::hits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hits_;
}

std::size_t FaultRouter::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requestCount_;
}

void FaultRouter::setChaos(ChaosOptions options) {
  std::lock_guard<std::mutex> lock(mutex_);
  chaos_ = options;
  chaosOn_ = options.share > 0;
  random_.seed(options.seed);
  chaosCounts_ = {};
  chaosLog_.clear();
}

ChaosCounts FaultRouter::chaosCounts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return chaosCounts_;
}

std::vector<ChaosFault> FaultRouter::chaosLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return chaosLog_;
}

ChaosFault FaultRouter::drawChaos(bool chinaz) {
  // Two draws for every request, faulted or not, so that one request's
  // service never shifts the draws of the requests after it.
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double whether = unit(random_);
  const double which = unit(random_);
  ChaosFault fault = ChaosFault::kNone;
  if (whether < chaos_.share) {
    std::vector<ChaosFault> kinds;
    if (chaos_.cut)
      kinds.push_back(ChaosFault::kCut);
    if (chaos_.refuse)
      kinds.push_back(ChaosFault::kRefuse);
    if (chinaz ? chaos_.chinazThrottle : chaos_.throttle)
      kinds.push_back(ChaosFault::kThrottle);
    if (chaos_.wall)
      kinds.push_back(ChaosFault::kWall);
    if (chaos_.resetMidBody)
      kinds.push_back(ChaosFault::kResetMidBody);
    if (!kinds.empty()) {
      const auto index = std::min(kinds.size() - 1, static_cast<std::size_t>(which * kinds.size()));
      fault = kinds[index];
    }
  }
  ++chaosCounts_.requests;
  switch (fault) {
    case ChaosFault::kNone:
      break;
    case ChaosFault::kCut:
      ++chaosCounts_.cut;
      break;
    case ChaosFault::kRefuse:
      ++chaosCounts_.refuse;
      break;
    case ChaosFault::kThrottle:
      ++chaosCounts_.throttle;
      break;
    case ChaosFault::kWall:
      ++chaosCounts_.wall;
      break;
    case ChaosFault::kResetMidBody:
      ++chaosCounts_.resetMidBody;
      break;
  }
  chaosLog_.push_back(fault);
  return fault;
}

void FaultRouter::serve(RawConnection& connection) {
  std::string raw = connection.readRequest();
  RecordedRequest request;
  if (raw.empty() || !parseRequest(raw, &request))
    return;
  Fault fault;
  const std::optional<FakeSite> resultSite = resultPageSite(request.target);
  std::optional<ChaosFault> chaos;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++requestCount_;
    for (const Route& route : routes_) {
      if (request.target.find(route.needle) != std::string::npos) {
        fault = route.fault;
        hits_.push_back({request.target, std::chrono::steady_clock::now()});
        break;
      }
    }
    if (!fault && chaosOn_ && resultSite)
      chaos = drawChaos(*resultSite == FakeSite::kChinaz);
  }
  Exchange exchange(connection, std::move(request), std::move(raw), upstream_);
  if (fault) {
    fault(exchange);
  } else if (chaos) {
    serveChaos(*chaos, *resultSite, exchange);
  } else {
    exchange.relay();
  }
}

FaultRouter::Fault FaultRouter::neverAnswer() {
  return [](Exchange& exchange) { exchange.connection().waitUntilClosed(); };
}

FaultRouter::Fault FaultRouter::rawAnswer(std::string bytes) {
  return [bytes](Exchange& exchange) { exchange.connection().send(bytes); };
}

FaultRouter::Fault FaultRouter::answer(HttpAnswer answer) {
  return [answer](Exchange& exchange) { exchange.send(answer); };
}

FaultRouter::Fault FaultRouter::resetMidBody(std::size_t declaredLength, std::string firstPart) {
  return [declaredLength, firstPart](Exchange& exchange) {
    RawConnection& connection = exchange.connection();
    connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                    std::to_string(declaredLength) + "\r\n\r\n" + firstPart);
    connection.pause(20);
    connection.reset();
  };
}

FaultRouter::Fault FaultRouter::endlessBody() {
  return [](Exchange& exchange) {
    RawConnection& connection = exchange.connection();
    if (!connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n"))
      return;
    const std::string block(65536, 'x');
    while (connection.send(block)) {
    }
  };
}

FaultRouter::Fault FaultRouter::altered(std::function<void(HttpAnswer&)> change) {
  return [change](Exchange& exchange) {
    HttpAnswer answer = exchange.fetchUpstream();
    if (answer.status != 0)
      change(answer);
    exchange.send(answer);
  };
}

FaultRouter::Fault FaultRouter::redirect(std::string location, int status) {
  return answer(HttpAnswer{.status = status,
                           .reason = "Found",
                           .headers = {{"Location", std::move(location)}},
                           .body = "moved"});
}

FaultRouter::Fault FaultRouter::firstTimes(int times, Fault fault) {
  auto left = std::make_shared<std::atomic<int>>(times);
  return [left, fault](Exchange& exchange) {
    if (left->fetch_sub(1) > 0) {
      fault(exchange);
    } else {
      exchange.relay();
    }
  };
}

}  // namespace qarvo::testing
