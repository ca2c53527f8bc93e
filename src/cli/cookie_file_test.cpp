#include "cli/cookie_file.h"

#include <gtest/gtest.h>

namespace qarvo::cli {
namespace {

constexpr std::time_t kNow = 1'800'000'000;

TEST(CookieFileTest, KeepsCookiesOfTheHostAndItsParentDomainInFileOrder) {
  const std::string file =
      "# Netscape HTTP Cookie File\n"
      ".chinaz.com\tTRUE\t/\tFALSE\t0\tsession\tabc\n"
      "whois.chinaz.com\tFALSE\t/\tFALSE\t1900000000\ttoken\tx=y\r\n"
      "tool.chinaz.com\tFALSE\t/\tFALSE\t0\tsibling\tno\n"        // another host
      ".com\tTRUE\t/\tFALSE\t0\ttld\tno\n"                        // a bare top-level domain
      "notchinaz.com\tTRUE\t/\tFALSE\t0\tlookalike\tno\n"         // not a parent
      "#HttpOnly_.chinaz.com\tTRUE\t/\tFALSE\t0\tauth\tsecret\n"  // HTTP-only, still sent
      "# .chinaz.com\tTRUE\t/\tFALSE\t0\tcommented\tno\n";
  EXPECT_EQ(cookieHeaderFor(file, "whois.chinaz.com", "/reverse", kNow),
            "session=abc; token=x=y; auth=secret");
}

TEST(CookieFileTest, LeavesOutExpiredCookiesForeignPathsAndBrokenLines) {
  const std::string file =
      ".chinaz.com\tTRUE\t/\tFALSE\t1700000000\told\tgone\n"
      ".chinaz.com\tTRUE\t/other\tFALSE\t0\tpath\tno\n"
      ".chinaz.com\tTRUE\t/rev\tFALSE\t0\tpartial\tno\n"  // "/rev" does not cover "/reverse"
      ".chinaz.com\tTRUE\t/reverse\tFALSE\t0\tmine\tyes\n"
      ".chinaz.com\tTRUE\t/\tFALSE\n";
  EXPECT_EQ(cookieHeaderFor(file, "whois.chinaz.com", "/reverse", kNow), "mine=yes");
}

TEST(CookieFileTest, ANameSeenTwiceKeepsTheHostsOwnCookie) {
  const std::string file =
      ".chinaz.com\tTRUE\t/\tFALSE\t0\tid\tparent\n"
      "WHOIS.chinaz.com\tFALSE\t/\tFALSE\t0\tid\thost\n"
      ".chinaz.com\tTRUE\t/\tFALSE\t0\tid\tlater\n";
  EXPECT_EQ(cookieHeaderFor(file, "whois.chinaz.com", "/reverse", kNow), "id=host");
}

TEST(CookieFileTest, AMissingFileIsAnError) {
  std::string header;
  std::string error;
  EXPECT_FALSE(
      readCookieFile("/nonexistent/cookies.txt", "whois.chinaz.com", "/reverse", &header, &error));
  EXPECT_NE(error.find("/nonexistent/cookies.txt"), std::string::npos);
}

}  // namespace
}  // namespace qarvo::cli
