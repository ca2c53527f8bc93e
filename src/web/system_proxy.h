// The system proxy: the proxy environment that curl and the other Linux
// tools read, standing in for the platform's proxy setting.
//
// A secure URL goes through https_proxy, a plain one through http_proxy;
// either falls back to all_proxy. Hosts named in no_proxy go direct. The
// upper-case spellings are read when the lower-case ones are unset.
#pragma once

#include "platform/text.h"

namespace qarvo {

// The proxy server for `url` ("https://..." or anything else for plain
// http), empty when the environment names none. no_proxy is not applied.
Text systemProxyFor(TextView url);

// The no_proxy list as it stands in the environment; empty when unset.
Text systemProxyBypass();

// Whether `host` goes direct under the no_proxy list `bypass`: "*" matches
// every host; any other entry (separated by commas, semicolons or blanks,
// a leading dot ignored) matches the host itself and the hosts under it,
// letter case ignored.
bool proxyBypassed(TextView host, TextView bypass);

// The proxy a direct fetch of `url` uses: systemProxyFor, or empty when the
// URL's host is in systemProxyBypass.
Text systemProxyForFetch(TextView url);

}  // namespace qarvo
