// The process's connection cache: libcurl shares holding open connections,
// name look-ups and TLS sessions, so that the pages of a run go over one
// connection per host (and proxy) instead of a new one per page.
//
// Every exchange takes a lease on a share for as long as its transfer runs.
// libcurl does not let threads that run transfers at the same time share
// connections, so the cache keeps a few shares and gives each to one thread at
// a time: a transfer gets the share its thread already holds (one nested in an
// event pumped during another), else a free share that last served its host,
// else any free one. Two threads looking up two services at once thus keep a
// warm connection each. When every share is busy on other threads, the
// transfer runs on a connection of its own. Each share's data is guarded by
// lock callbacks, one mutex per kind of data, so it is safe whichever thread
// touches or frees it.
#pragma once

#include <curl/curl.h>

#include <string>

namespace qarvo {

class ConnectionLease {
 public:
  // Takes a lease for a transfer to `hostKey` (scheme, host and port),
  // preferring the share that served it last.
  explicit ConnectionLease(const std::string& hostKey = {});
  ~ConnectionLease();
  ConnectionLease(const ConnectionLease&) = delete;
  ConnectionLease& operator=(const ConnectionLease&) = delete;

  // The share to set on the transfer's easy handle; nullptr without a lease
  // (or when libcurl gave no share at all).
  CURLSH* share() const { return share_; }

 private:
  CURLSH* share_ = nullptr;
  int slot_ = -1;
};

}  // namespace qarvo
