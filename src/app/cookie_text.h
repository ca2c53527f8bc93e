// The cookie jar of the embedded browser, as cookie-header text.
//
// The browser engine reports each cookie it stores or drops; CookieText keeps
// the live ones and answers with the Cookie header a page of a given host and
// path would send: matching domain (a host-only cookie for that host exactly,
// a ".domain" cookie for the domain and its sub-domains) and path prefix, the
// longest paths first, each name only once.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace qarvo {

class CookieText {
 public:
  // Stores a cookie; one with the same name, domain and path is replaced.
  void add(const QByteArray& name, const QByteArray& value, const QString& domain,
           const QString& path);
  void remove(const QByteArray& name, const QString& domain, const QString& path);
  void clear() { cookies_.clear(); }

  // "name=value; name2=value2" for a request to `host` at `path`; empty when
  // no cookie matches.
  QByteArray headerFor(const QString& host, const QString& path) const;

 private:
  struct Cookie {
    QByteArray name;
    QByteArray value;
    QString domain;
    QString path;
  };
  std::vector<Cookie> cookies_;  // in the order first stored
};

}  // namespace qarvo
