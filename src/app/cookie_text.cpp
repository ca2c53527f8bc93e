#include "app/cookie_text.h"

#include <algorithm>
#include <set>

namespace qarvo {

namespace {

QString normalPath(const QString& path) {
  return path.isEmpty() ? QStringLiteral("/") : path;
}

bool domainMatches(const QString& cookieDomain, const QString& host) {
  if (cookieDomain.isEmpty())
    return false;
  if (cookieDomain.startsWith(u'.')) {
    const QString bare = cookieDomain.mid(1);
    return host.compare(bare, Qt::CaseInsensitive) == 0 ||
           host.endsWith(cookieDomain, Qt::CaseInsensitive);
  }
  return host.compare(cookieDomain, Qt::CaseInsensitive) == 0;
}

// RFC 6265 path-match: the cookie path is the request path, or a prefix of it
// that ends in "/" or is followed by "/".
bool pathMatches(const QString& cookiePath, const QString& requestPath) {
  if (requestPath == cookiePath)
    return true;
  if (!requestPath.startsWith(cookiePath))
    return false;
  return cookiePath.endsWith(u'/') || requestPath.at(cookiePath.size()) == u'/';
}

}  // namespace

void CookieText::add(const QByteArray& name, const QByteArray& value, const QString& domain,
                     const QString& path) {
  const QString p = normalPath(path);
  for (Cookie& cookie : cookies_) {
    if (cookie.name == name && cookie.domain.compare(domain, Qt::CaseInsensitive) == 0 &&
        cookie.path == p) {
      cookie.value = value;
      return;
    }
  }
  cookies_.push_back(Cookie{name, value, domain, p});
}

void CookieText::remove(const QByteArray& name, const QString& domain, const QString& path) {
  const QString p = normalPath(path);
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                [&](const Cookie& cookie) {
                                  return cookie.name == name &&
                                         cookie.domain.compare(domain, Qt::CaseInsensitive) == 0 &&
                                         cookie.path == p;
                                }),
                 cookies_.end());
}

QByteArray CookieText::headerFor(const QString& host, const QString& path) const {
  const QString requestPath = normalPath(path);
  std::vector<const Cookie*> matching;
  for (const Cookie& cookie : cookies_) {
    if (domainMatches(cookie.domain, host) && pathMatches(cookie.path, requestPath)) {
      matching.push_back(&cookie);
    }
  }
  // Longer paths first, and a host-only cookie before a domain cookie of the
  // same name, the way a browser orders them; the first of each name wins.
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    if (a->path.size() != b->path.size())
      return a->path.size() > b->path.size();
    return !a->domain.startsWith(u'.') && b->domain.startsWith(u'.');
  });
  QByteArray header;
  std::set<QByteArray> seen;
  for (const Cookie* cookie : matching) {
    if (!seen.insert(cookie->name).second)
      continue;
    if (!header.isEmpty())
      header += "; ";
    header += cookie->name + '=' + cookie->value;
  }
  return header;
}

}  // namespace qarvo
