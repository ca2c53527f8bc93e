#include "app/cookie_text.h"

#include <gtest/gtest.h>

namespace qarvo {
namespace {

TEST(CookieTextTest, SendsTheCookiesOfTheHostAndItsDomainEachNameOnce) {
  CookieText jar;
  jar.add("session", "tool-only", "tool.chinaz.com", "/");
  jar.add("session", "domain-wide", ".chinaz.com", "/");
  jar.add("uid", "42", ".chinaz.com", "/");
  jar.add("other", "x", "whois.chinaz.com", "/");
  jar.add("far", "y", ".example.com", "/");
  // The host-only cookie wins over the domain cookie of the same name.
  EXPECT_EQ(jar.headerFor("tool.chinaz.com", "/"), "session=tool-only; uid=42");
  EXPECT_EQ(jar.headerFor("whois.chinaz.com", "/"), "other=x; session=domain-wide; uid=42");
  EXPECT_EQ(jar.headerFor("chinaz.com", "/"), "session=domain-wide; uid=42");
  // A look-alike domain gets nothing.
  EXPECT_EQ(jar.headerFor("notchinaz.com", "/"), "");
  EXPECT_EQ(jar.headerFor("TOOL.CHINAZ.COM", ""), "session=tool-only; uid=42");
}

TEST(CookieTextTest, ReplacesAndRemovesByNameDomainAndPath) {
  CookieText jar;
  jar.add("a", "1", "h.com", "/");
  jar.add("b", "2", "h.com", "/");
  jar.add("a", "3", "h.com", "/");  // replaced in place
  EXPECT_EQ(jar.headerFor("h.com", "/"), "a=3; b=2");
  jar.remove("a", "h.com", "/");
  EXPECT_EQ(jar.headerFor("h.com", "/"), "b=2");
  jar.remove("b", "other.com", "/");  // not that cookie
  EXPECT_EQ(jar.headerFor("h.com", "/"), "b=2");
  jar.clear();
  EXPECT_EQ(jar.headerFor("h.com", "/"), "");
}

TEST(CookieTextTest, PathsMatchByPrefixAndLongerPathsComeFirst) {
  CookieText jar;
  jar.add("root", "r", "h.com", "/");
  jar.add("deep", "d", "h.com", "/account");
  jar.add("name", "root-level", "h.com", "");
  jar.add("name", "account-level", "h.com", "/account/");
  EXPECT_EQ(jar.headerFor("h.com", "/"), "root=r; name=root-level");
  EXPECT_EQ(jar.headerFor("h.com", "/account/login"), "name=account-level; deep=d; root=r");
  EXPECT_EQ(jar.headerFor("h.com", "/account"), "deep=d; root=r; name=root-level");
  // "/accounts" is not below "/account".
  EXPECT_EQ(jar.headerFor("h.com", "/accounts"), "root=r; name=root-level");
}

}  // namespace
}  // namespace qarvo
