// The process's one connection cache: a libcurl share holding open
// connections, name look-ups and TLS sessions, so that the pages of a run go
// over one connection per host (and proxy) instead of a new one per page.
//
// Every exchange takes a lease on it for as long as its transfer runs.
// libcurl cannot hand connections between threads that run transfers at the
// same time, so the cache serves one thread at a time: while transfers of one
// thread hold leases, a transfer on another thread gets no lease and runs on
// a connection of its own. Transfers nested on the same thread (one started
// from an event pumped during another) share it freely. The share's data is
// guarded by lock callbacks as well, so it is safe whichever thread frees it.
#pragma once

#include <curl/curl.h>

namespace qarvo {

class ConnectionLease {
 public:
  // Takes a lease when the cache is free or held by this thread.
  ConnectionLease();
  ~ConnectionLease();
  ConnectionLease(const ConnectionLease&) = delete;
  ConnectionLease& operator=(const ConnectionLease&) = delete;

  // The share to set on the transfer's easy handle; nullptr without a lease
  // (or when libcurl gave no share at all).
  CURLSH* share() const { return share_; }

 private:
  CURLSH* share_ = nullptr;
};

}  // namespace qarvo
