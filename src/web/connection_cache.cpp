#include "web/connection_cache.h"

#include <array>
#include <mutex>
#include <thread>

#include "web/curl_exchange.h"

namespace qarvo {
namespace {

// One libcurl share with its own locks.
class Share {
 public:
  Share() {
    share_ = curl_share_init();
    if (share_ == nullptr)
      return;
    bool shared = curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Share::lock) == CURLSHE_OK &&
                  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Share::unlock) == CURLSHE_OK &&
                  curl_share_setopt(share_, CURLSHOPT_USERDATA, this) == CURLSHE_OK;
    for (curl_lock_data data :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION}) {
      shared = shared && curl_share_setopt(share_, CURLSHOPT_SHARE, data) == CURLSHE_OK;
    }
    if (!shared) {
      // Without its locks the share would not be safe: none rather than a racy one.
      curl_share_cleanup(share_);
      share_ = nullptr;
    }
  }
  Share(const Share&) = delete;
  Share& operator=(const Share&) = delete;

  CURLSH* get() const { return share_; }

  // Who holds it: transfers of one thread only, nested ones included.
  std::thread::id owner;
  int holders = 0;
  std::string lastHost;
  unsigned long long lastUse = 0;  // when it was last leased

 private:
  static std::mutex* mutexFor(curl_lock_data data, void* user) {
    auto* self = static_cast<Share*>(user);
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
};

class ConnectionCache {
 public:
  static ConnectionCache& instance() {
    // Lives as long as the process: idle connections are closed by the
    // system at exit, and no transfer can outlive the shares.
    static ConnectionCache* cache = new ConnectionCache();
    return *cache;
  }

  // The slot leased, or -1.
  int acquire(const std::string& hostKey) {
    std::lock_guard<std::mutex> lock(leaseMutex_);
    const std::thread::id me = std::this_thread::get_id();
    int chosen = -1;
    auto usable = [&](int i) { return shares_[i].get() != nullptr; };
    // A transfer nested on a thread that holds a share keeps to it.
    for (int i = 0; i < kShares && chosen < 0; ++i) {
      if (usable(i) && shares_[i].holders > 0 && shares_[i].owner == me)
        chosen = i;
    }
    // A free share that knows the host, else the one that has waited
    // longest (whose connections are the least likely to be wanted again).
    for (int i = 0; i < kShares && chosen < 0; ++i) {
      if (usable(i) && shares_[i].holders == 0 && shares_[i].lastHost == hostKey)
        chosen = i;
    }
    if (chosen < 0) {
      for (int i = 0; i < kShares; ++i) {
        if (usable(i) && shares_[i].holders == 0 &&
            (chosen < 0 || shares_[i].lastUse < shares_[chosen].lastUse)) {
          chosen = i;
        }
      }
    }
    if (chosen < 0)
      return -1;
    Share& s = shares_[chosen];
    s.owner = me;
    ++s.holders;
    s.lastHost = hostKey;
    s.lastUse = ++uses_;
    return chosen;
  }

  void release(int slot) {
    std::lock_guard<std::mutex> lock(leaseMutex_);
    if (slot >= 0 && slot < kShares && shares_[slot].holders > 0)
      --shares_[slot].holders;
  }

  CURLSH* share(int slot) const { return slot < 0 ? nullptr : shares_[slot].get(); }

 private:
  ConnectionCache() = default;

  // Enough for both services on threads of their own, the window's thread and
  // a spare.
  static constexpr int kShares = 4;
  // libcurl is initialised before the first share is made.
  bool curlReady_ = (initialiseCurl(), true);
  std::array<Share, kShares> shares_;
  std::mutex leaseMutex_;
  unsigned long long uses_ = 0;
};

}  // namespace

ConnectionLease::ConnectionLease(const std::string& hostKey)
    : slot_(ConnectionCache::instance().acquire(hostKey)) {
  share_ = ConnectionCache::instance().share(slot_);
}

ConnectionLease::~ConnectionLease() {
  if (slot_ >= 0)
    ConnectionCache::instance().release(slot_);
}

}  // namespace qarvo
