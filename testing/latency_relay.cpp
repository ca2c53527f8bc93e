#include "testing/latency_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>

namespace qarvo::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSliceMs = 10;

// One direction of a connection: chunks read from `from` are written to `to`
// once their time has come. Ends when `from` ends or the relay stops.
class Direction {
 public:
  Direction(int from, int to, Clock::time_point opensAt, std::chrono::milliseconds delay,
            const std::atomic<bool>& stopping)
      : from_(from), to_(to), opensAt_(opensAt), delay_(delay), stopping_(stopping) {}

  void run() {
    std::thread writer([this] { write(); });
    char buffer[16384];
    while (!stopping_.load()) {
      pollfd entry{from_, POLLIN, 0};
      if (::poll(&entry, 1, kSliceMs) <= 0)
        continue;
      const ssize_t got = ::recv(from_, buffer, sizeof buffer, 0);
      std::lock_guard<std::mutex> lock(mutex_);
      if (got <= 0) {
        ended_ = true;
        break;
      }
      queue_.push_back({std::max(Clock::now() + delay_, opensAt_),
                        std::string(buffer, static_cast<std::size_t>(got))});
      wake_.notify_one();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
      wake_.notify_one();
    }
    writer.join();
  }

 private:
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
  };

  void write() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      wake_.wait_for(lock, std::chrono::milliseconds(kSliceMs),
                     [this] { return ended_ || !queue_.empty(); });
      if (queue_.empty()) {
        if (ended_ || stopping_.load())
          break;
        continue;
      }
      Chunk chunk = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      std::this_thread::sleep_until(chunk.due);
      const bool sent = ::send(to_, chunk.bytes.data(), chunk.bytes.size(), MSG_NOSIGNAL) ==
                        static_cast<ssize_t>(chunk.bytes.size());
      lock.lock();
      if (!sent)
        break;
    }
    // What `from` closed is closed on `to` as well, after the last chunk.
    ::shutdown(to_, SHUT_WR);
  }

  int from_;
  int to_;
  Clock::time_point opensAt_;
  std::chrono::milliseconds delay_;
  const std::atomic<bool>& stopping_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Chunk> queue_;
  bool ended_ = false;
};

}  // namespace

LatencyRelay::LatencyRelay(std::string backendHostPort, std::chrono::milliseconds roundTrip)
    : backend_(std::move(backendHostPort)),
      roundTrip_(roundTrip),
      listener_(
          0, [this](int client) { serve(client); }, /*noDelay=*/true) {}

void LatencyRelay::serve(int client) {
  const int server = connectToHostPort(backend_);
  if (server >= 0) {
    const Clock::time_point opensAt = Clock::now() + roundTrip_;
    const auto half = roundTrip_ / 2;
    Direction up(client, server, opensAt, half, listener_.stopping());
    Direction down(server, client, opensAt, half, listener_.stopping());
    std::thread upward([&up] { up.run(); });
    down.run();
    upward.join();
    ::close(server);
  }
}

}  // namespace qarvo::testing
