#include "web/connection_cache.h"

#include <mutex>
#include <thread>

#include "web/curl_exchange.h"

namespace qarvo {
namespace {

class ConnectionCache {
 public:
  static ConnectionCache& instance() {
    // Lives as long as the process: idle connections are closed by the
    // system at exit, and no transfer can outlive the share.
    static ConnectionCache* cache = new ConnectionCache();
    return *cache;
  }

  CURLSH* acquire() {
    std::lock_guard<std::mutex> lock(leaseMutex_);
    if (share_ == nullptr)
      return nullptr;
    if (holders_ > 0 && owner_ != std::this_thread::get_id())
      return nullptr;
    owner_ = std::this_thread::get_id();
    ++holders_;
    return share_;
  }

  void release() {
    std::lock_guard<std::mutex> lock(leaseMutex_);
    if (holders_ > 0)
      --holders_;
  }

 private:
  ConnectionCache() {
    initialiseCurl();
    share_ = curl_share_init();
    if (share_ == nullptr)
      return;
    bool shared =
        curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &ConnectionCache::lock) == CURLSHE_OK &&
        curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &ConnectionCache::unlock) == CURLSHE_OK &&
        curl_share_setopt(share_, CURLSHOPT_USERDATA, this) == CURLSHE_OK;
    for (curl_lock_data data :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
      shared = shared && curl_share_setopt(share_, CURLSHOPT_SHARE, data) == CURLSHE_OK;
    }
    if (!shared) {
      // Without its locks the share would not be safe: no cache rather than a racy one.
      curl_share_cleanup(share_);
      share_ = nullptr;
    }
  }

  static std::mutex* mutexFor(curl_lock_data data, void* user) {
    auto* self = static_cast<ConnectionCache*>(user);
    const auto index = static_cast<std::size_t>(data);
    return index < kLockKinds ? &self->dataMutexes_[index] : &self->dataMutexes_[0];
  }
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    mutexFor(data, user)->lock();
  }
  static void unlock(CURL*, curl_lock_data data, void* user) { mutexFor(data, user)->unlock(); }

  // One lock for each kind of shared data, as libcurl asks.
  static constexpr std::size_t kLockKinds = CURL_LOCK_DATA_LAST;
  std::mutex dataMutexes_[kLockKinds];

  CURLSH* share_ = nullptr;
  std::mutex leaseMutex_;
  std::thread::id owner_;
  int holders_ = 0;
};

}  // namespace

ConnectionLease::ConnectionLease() : share_(ConnectionCache::instance().acquire()) {}

ConnectionLease::~ConnectionLease() {
  if (share_ != nullptr)
    ConnectionCache::instance().release();
}

}  // namespace qarvo
