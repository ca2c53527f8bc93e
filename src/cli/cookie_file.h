// Cookies for the 站长 sign-in from a browser's cookies.txt export.
//
// The Netscape format that browsers and their extensions export: one cookie
// per line, seven tab-separated fields (domain, include-subdomains flag,
// path, secure flag, expiry in Unix seconds, name, value); lines starting
// with "#" are comments, except "#HttpOnly_" before the domain of an
// HTTP-only cookie.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace qarvo::cli {

// The Cookie header value ("name=value; name2=value2") that a browser would
// send to `host` with a request for `path`: cookies of the host or one of its
// parent domains (never a bare top-level domain), whose path covers `path`,
// not expired at `now` (0 = a session cookie). A name seen twice keeps the
// cookie of the more specific domain, else the first one.
std::string cookieHeaderFor(std::string_view cookiesTxt, std::string_view host,
                            std::string_view path, std::time_t now);

// Reads `file` and picks the cookies as above. False (with `error`) when the
// file cannot be read.
bool readCookieFile(const std::string& file, std::string_view host, std::string_view path,
                    std::string* header, std::string* error);

}  // namespace qarvo::cli
