#include "testing/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/code_page.h"
#include "platform/dbcs.h"

namespace qarvo::testing {
namespace {

constexpr int kSliceMs = 20;
constexpr std::size_t kMaxHeadBytes = 1 << 20;

// The Content-Length of a request head, 0 when absent or unreadable.
std::size_t contentLength(std::string_view head) {
  RecordedRequest request;
  if (!parseRequest(head, &request))
    return 0;
  std::string value = request.header("Content-Length");
  return value.empty() ? 0 : static_cast<std::size_t>(std::strtoull(value.c_str(), nullptr, 10));
}

// Waits until the socket is readable (or writable); false when the server stops first.
bool waitFor(int socket, short events, const std::atomic<bool>* stopping) {
  while (!stopping->load()) {
    pollfd entry{socket, events, 0};
    int ready = ::poll(&entry, 1, kSliceMs);
    if (ready > 0)
      return true;
    if (ready < 0 && errno != EINTR)
      return false;
  }
  return false;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

std::string RecordedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (sameHeaderName(key, name))
      return value;
  }
  return {};
}

bool RecordedRequest::hasHeader(std::string_view name) const {
  return headerCount(name) > 0;
}

std::size_t RecordedRequest::headerCount(std::string_view name) const {
  std::size_t count = 0;
  for (const auto& header : headers) {
    if (sameHeaderName(header.first, name))
      ++count;
  }
  return count;
}

bool parseRequest(std::string_view bytes, RecordedRequest* request) {
  std::size_t headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string_view::npos)
    return false;
  std::string_view head = bytes.substr(0, headEnd + 2);
  request->raw = std::string(bytes.substr(0, headEnd + 4));
  request->body = std::string(bytes.substr(headEnd + 4));
  std::size_t lineEnd = head.find("\r\n");
  std::string_view line = head.substr(0, lineEnd);
  std::size_t firstBlank = line.find(' ');
  std::size_t secondBlank = line.rfind(' ');
  if (firstBlank == std::string_view::npos || secondBlank <= firstBlank)
    return false;
  request->method = std::string(line.substr(0, firstBlank));
  request->target = std::string(line.substr(firstBlank + 1, secondBlank - firstBlank - 1));
  request->path = request->target.substr(0, request->target.find('?'));
  request->headers.clear();
  std::size_t at = lineEnd + 2;
  while (at < head.size()) {
    std::size_t end = head.find("\r\n", at);
    std::string_view headerLine = head.substr(at, end - at);
    at = end + 2;
    std::size_t colon = headerLine.find(':');
    if (colon == std::string_view::npos)
      continue;
    request->headers.emplace_back(std::string(headerLine.substr(0, colon)),
                                  std::string(trimHeaderBlanks(headerLine.substr(colon + 1))));
  }
  return true;
}

// ---- RawConnection ----

RawConnection::RawConnection(int socket, const std::atomic<bool>* stopping,
                             std::function<void(const std::string&)> record)
    : socket_(socket), stopping_(stopping), record_(std::move(record)) {}

RawConnection::~RawConnection() {
  if (socket_ >= 0)
    ::close(socket_);
}

std::string RawConnection::readRequest() {
  std::string data = std::move(pending_);
  pending_.clear();
  char buffer[16384];
  std::size_t headEnd = std::string::npos;
  std::size_t wanted = 0;
  while (true) {
    if (headEnd == std::string::npos) {
      headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos)
        wanted = headEnd + 4 + contentLength(data.substr(0, headEnd + 4));
    }
    if (headEnd != std::string::npos && data.size() >= wanted)
      break;
    if (data.size() > kMaxHeadBytes && headEnd == std::string::npos)
      return {};
    if (socket_ < 0 || !waitFor(socket_, POLLIN, stopping_))
      return {};
    ssize_t got = ::recv(socket_, buffer, sizeof buffer, 0);
    if (got <= 0)
      return {};
    data.append(buffer, static_cast<std::size_t>(got));
  }
  pending_ = data.substr(wanted);
  data.resize(wanted);
  if (record_)
    record_(data);
  return data;
}

bool RawConnection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (socket_ < 0 || !waitFor(socket_, POLLOUT, stopping_))
      return false;
    ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR || errno == EAGAIN)
        continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void RawConnection::reset() {
  if (socket_ < 0)
    return;
  linger option{1, 0};
  ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  ::close(socket_);
  socket_ = -1;
}

void RawConnection::waitUntilClosed() {
  char buffer[4096];
  while (socket_ >= 0 && waitFor(socket_, POLLIN, stopping_)) {
    if (::recv(socket_, buffer, sizeof buffer, 0) <= 0)
      return;
  }
}

void RawConnection::pause(int milliseconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!stopping() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// ---- RawServer ----

RawServer::RawServer(Script script) : script_(std::move(script)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::listen(listener_, 64) == 0) {
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  acceptor_ = std::thread([this] { acceptLoop(); });
}

RawServer::~RawServer() {
  stopping_ = true;
  if (acceptor_.joinable())
    acceptor_.join();
  for (std::thread& worker : workers_)
    worker.join();
  if (listener_ >= 0)
    ::close(listener_);
}

void RawServer::acceptLoop() {
  while (waitFor(listener_, POLLIN, &stopping_)) {
    int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0)
      continue;
    ++connections_;
    workers_.emplace_back([this, socket] {
      RawConnection connection(socket, &stopping_, [this](const std::string& request) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      });
      script_(connection);
    });
  }
}

std::string RawServer::hostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string RawServer::url(std::string_view path) const {
  return "http://" + hostPort() + std::string(path);
}

std::vector<std::string> RawServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

RawServer::Script RawServer::neverAnswer() {
  return [](RawConnection& connection) {
    connection.readRequest();
    connection.waitUntilClosed();
  };
}

RawServer::Script RawServer::answer(std::string bytes) {
  return [bytes](RawConnection& connection) {
    if (connection.readRequest().empty())
      return;
    connection.send(bytes);
  };
}

RawServer::Script RawServer::resetMidBody(std::size_t declaredLength, std::string firstPart) {
  return [declaredLength, firstPart](RawConnection& connection) {
    if (connection.readRequest().empty())
      return;
    connection.send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                    std::to_string(declaredLength) + "\r\nSet-Cookie: lost=1\r\n\r\n" + firstPart);
    connection.pause(50);
    connection.reset();
  };
}

RawServer::Script RawServer::endlessBody() {
  return [](RawConnection& connection) {
    if (connection.readRequest().empty())
      return;
    if (!connection.send(
            "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nSet-Cookie: lost=1\r\n\r\n")) {
      return;
    }
    std::string block(16384, 'x');
    while (connection.send(block)) {
    }
  };
}

// ---- TestServer ----

struct TestServer::Impl {
  mutable std::mutex mutex;
  std::map<std::string, std::function<Reply(const RecordedRequest&)>> handlers;
  std::vector<RecordedRequest> requests;

  void serve(RawConnection& connection) {
    RecordedRequest request;
    if (!parseRequest(connection.readRequest(), &request))
      return;
    std::function<Reply(const RecordedRequest&)> handler;
    {
      std::lock_guard<std::mutex> lock(mutex);
      requests.push_back(request);
      auto it = handlers.find(request.path);
      if (it != handlers.end())
        handler = it->second;
    }
    Reply reply = handler ? handler(request) : Reply{.status = 404, .body = "not found"};
    if (reply.delayMs > 0)
      connection.pause(reply.delayMs);
    std::string response =
        "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
    for (const auto& [name, value] : reply.headers)
      response += name + ": " + value + "\r\n";
    if (request.method != "HEAD" || !reply.body.empty()) {
      response += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    response += "Connection: close\r\n\r\n";
    if (request.method != "HEAD")
      response += reply.body;
    connection.send(response);
  }
};

TestServer::TestServer() : impl_(std::make_shared<Impl>()) {
  std::shared_ptr<Impl> impl = impl_;
  server_ =
      std::make_unique<RawServer>([impl](RawConnection& connection) { impl->serve(connection); });
}

TestServer::~TestServer() = default;

int TestServer::port() const {
  return server_->port();
}
std::string TestServer::hostPort() const {
  return server_->hostPort();
}
std::string TestServer::url(std::string_view path) const {
  return server_->url(path);
}

void TestServer::reply(const std::string& path, Reply reply) {
  handle(path, [reply](const RecordedRequest&) { return reply; });
}

void TestServer::handle(const std::string& path,
                        std::function<Reply(const RecordedRequest&)> handler) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->handlers[path] = std::move(handler);
}

void TestServer::redirect(const std::string& path, const std::string& location, int status) {
  reply(path, Reply{.status = status, .headers = {{"Location", location}}, .body = "moved"});
}

std::vector<RecordedRequest> TestServer::requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests;
}

std::size_t TestServer::requestCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests.size();
}

RecordedRequest TestServer::lastRequest() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests.empty() ? RecordedRequest{} : impl_->requests.back();
}

void TestServer::clearRequests() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->requests.clear();
}

// ---- helpers ----

int unusedPort() {
  int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ::close(probe);
  return port;
}

std::string gzipCompress(std::string_view data) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string encodeAs(std::string_view utf8, const char* encoding) {
  std::string out;
  convertEncoding(utf8, "UTF-8", encoding, "?", &out);
  return out;
}

bool clearProxyEnvironment() {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
    unsetenv(name);
  }
  return true;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool sameHeaderName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i]))
      return false;
  }
  return true;
}

std::string_view trimHeaderBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

}  // namespace qarvo::testing
