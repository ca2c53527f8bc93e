#include "cli/cookie_file.h"

#include "cli/address_list.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qarvo::cli {

namespace {

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// How closely the cookie's domain matches the host: 2 the host itself, 1 a
// parent domain, 0 not at all.
int domainMatch(std::string_view cookieDomain, const std::string& host) {
  if (cookieDomain.starts_with('.'))
    cookieDomain.remove_prefix(1);
  const std::string domain = lowerAscii(cookieDomain);
  if (domain.empty())
    return 0;
  if (domain == host)
    return 2;
  // A parent domain with at least one dot of its own: "chinaz.com" covers
  // "whois.chinaz.com", "com" covers nothing.
  if (domain.find('.') != std::string::npos && host.size() > domain.size() &&
      host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.')
    return 1;
  return 0;
}

bool pathMatch(std::string_view cookiePath, std::string_view requestPath) {
  if (cookiePath.empty() || cookiePath == "/")
    return true;
  if (!requestPath.starts_with(cookiePath))
    return false;
  return requestPath.size() == cookiePath.size() || cookiePath.ends_with('/') ||
         requestPath[cookiePath.size()] == '/';
}

struct Cookie {
  std::string name;
  std::string value;
  int match = 0;
};

}  // namespace

std::string cookieHeaderFor(std::string_view cookiesTxt, std::string_view host,
                            std::string_view path, std::time_t now) {
  const std::string wantedHost = lowerAscii(host);
  std::vector<Cookie> cookies;
  size_t begin = 0;
  while (begin < cookiesTxt.size()) {
    size_t end = cookiesTxt.find('\n', begin);
    std::string_view line =
        cookiesTxt.substr(begin, end == std::string_view::npos ? end : end - begin);
    begin = end == std::string_view::npos ? cookiesTxt.size() : end + 1;
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    constexpr std::string_view kHttpOnly = "#HttpOnly_";
    if (line.starts_with(kHttpOnly))
      line.remove_prefix(kHttpOnly.size());
    else if (line.empty() || line.starts_with('#'))
      continue;

    std::vector<std::string_view> fields;
    size_t at = 0;
    for (;;) {
      size_t tab = line.find('\t', at);
      fields.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
      if (tab == std::string_view::npos)
        break;
      at = tab + 1;
    }
    if (fields.size() != 7 || fields[5].empty())
      continue;
    const int match = domainMatch(fields[0], wantedHost);
    if (match == 0 || !pathMatch(fields[2], path))
      continue;
    const long long expiry = std::atoll(std::string(fields[4]).c_str());
    if (expiry > 0 && expiry < static_cast<long long>(now))
      continue;

    Cookie cookie{std::string(fields[5]), std::string(fields[6]), match};
    bool seen = false;
    for (Cookie& kept : cookies) {
      if (kept.name == cookie.name) {
        seen = true;
        if (cookie.match > kept.match)
          kept = cookie;
        break;
      }
    }
    if (!seen)
      cookies.push_back(std::move(cookie));
  }

  std::string header;
  for (const Cookie& cookie : cookies) {
    if (!header.empty())
      header += "; ";
    header += cookie.name + "=" + cookie.value;
  }
  return header;
}

bool readCookieFile(const std::string& file, std::string_view host, std::string_view path,
                    std::string* header, std::string* error) {
  std::string contents;
  int readError = 0;
  if (file.empty() || file == "-" || !readInputBytes(file, &contents, &readError)) {
    *error = "cannot read the cookie file " + file + ": " +
             std::strerror(readError != 0 ? readError : ENOENT);
    return false;
  }
  *header = cookieHeaderFor(contents, host, path, std::time(nullptr));
  return true;
}

}  // namespace qarvo::cli
