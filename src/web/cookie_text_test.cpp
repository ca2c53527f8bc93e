#include "web/cookie_text.h"

#include <gtest/gtest.h>

namespace qarvo {
namespace {

// One response head as GetAllResponseHeaders hands it out: cookies with and
// without attributes, a blank-less one, one in another letter case, and a
// header that only mentions Set-Cookie in its value.
constexpr const char* kHeaders =
    "Content-Type: text/html\r\n"
    "Set-Cookie: a=1; path=/; HttpOnly\r\n"
    "X-Note: Set-Cookie: fake=1\r\n"
    "Set-Cookie: b=2\r\n"
    "Set-Cookie:tight=7; path=/\r\n"
    "set-cookie: lower=3; path=/\r\n"
    "Set-Cookie:  padded = 4 ; Max-Age=1\r\n"
    "Location: /first\r\n"
    "Location: /second\r\n";

TEST(CookieTextTest, ResponseCookiesOfThePageFetch) {
  EXPECT_EQ(setCookieLinesOf(kHeaders),
            "Set-Cookie: a=1; path=/; HttpOnly\r\nSet-Cookie: b=2\r\n"
            "Set-Cookie:tight=7; path=/\r\nSet-Cookie:  padded = 4 ; Max-Age=1\r\n");
  // Attributes stay in; only "Set-Cookie: " with its blank goes.
  EXPECT_EQ(responseCookiesOf(kHeaders),
            "a=1; path=/; HttpOnly; b=2; Set-Cookie:tight=7; path=/;  padded = 4 ; Max-Age=1; ");
  EXPECT_EQ(setCookieLinesOf("Content-Length: 0\r\n"), "");
  EXPECT_EQ(responseCookiesOf(""), "");
}

TEST(CookieTextTest, OneCookieValue) {
  EXPECT_EQ(responseCookieValueOf(kHeaders, "a"), "1");
  EXPECT_EQ(responseCookieValueOf(kHeaders, "b"), "2");  // ends with its line
  EXPECT_EQ(responseCookieValueOf(kHeaders, "tight"), "7");
  EXPECT_EQ(responseCookieValueOf(kHeaders, "lower"), "");  // letter case counts
  EXPECT_EQ(responseCookieValueOf(kHeaders, "missing"), "");
  // The value never runs into the next header line.
  EXPECT_EQ(responseCookieValueOf("Set-Cookie: e=\r\nSet-Cookie: f=6\r\n", "e"), "");
}

TEST(CookieTextTest, ReturnedCookiesOfTheFunctionInterfaceFetch) {
  // Only lines whose name is exactly "Set-Cookie"; values up to ";" and trimmed.
  EXPECT_EQ(returnedCookiesOf(kHeaders), "a=1; b=2; padded = 4");
  EXPECT_EQ(returnedCookiesOf("HTTP/1.1 200 OK\r\nSet-Cookie: solo=1\r\n\r\n"), "solo=1");
  EXPECT_EQ(returnedCookiesOf("Set-Cookie: ; path=/\r\n"), "");
  // A header line that is the bare name has no cookie (and reads nothing past it).
  EXPECT_EQ(returnedCookiesOf("Set-Cookie\r\nSet-Cookie: a=1\r\nSet-Cookie"), "a=1");
  EXPECT_EQ(locationHeaderOf(kHeaders), "/second");
  EXPECT_EQ(locationHeaderOf("location: /lower\r\n"), "");
}

TEST(CookieTextTest, CookiesOfTheInternetLibraryFetch) {
  // Any letter case, with or without the blank; each followed by "; ".
  EXPECT_EQ(internetCookiesOf(kHeaders), "a=1; b=2; tight=7; lower=3; padded = 4; ");
  EXPECT_EQ(internetCookiesOf("X: y\r\n"), "");
}

TEST(CookieTextTest, MergingCarriesOldCookiesAndDropsDeletedOnes) {
  // The worked case: request a and b; the answer sets b anew and deletes c.
  const Text returned = returnedCookiesOf(
      "Set-Cookie: b=new; path=/\r\nSet-Cookie: c=deleted; expires=Thu, 01 Jan 1970\r\n");
  EXPECT_EQ(mergeCookies("a=1; b=2", returned), "b=new; a=1");
  // An old cookie of the same name is replaced even when the new one is deleted.
  EXPECT_EQ(mergeCookies("a=1; c=3", "c=deleted"), "a=1");
  EXPECT_EQ(mergeCookies("a=1", ""), "a=1");
  EXPECT_EQ(mergeCookies("", "z=1;z=1"), "z=1");
}

TEST(CookieTextTest, AHeaderLineEndingInAHighByteKeepsToItself) {
  // "\xC4" would pair with the CR as a double-byte character if header text
  // were split like page text, and the cookie would swallow the next line.
  const Text headers = "Set-Cookie: a=\xC4\r\nLocation: /next\r\nSet-Cookie: b=2\r\n";
  EXPECT_EQ(returnedCookiesOf(headers), "a=\xC4; b=2");
  EXPECT_EQ(internetCookiesOf(headers), "a=\xC4; b=2; ");
  EXPECT_EQ(responseCookiesOf(headers), "a=\xC4; b=2; ");
  EXPECT_EQ(locationHeaderOf(headers), "/next");
  // A stray line break inside a value ends the cookie there.
  EXPECT_EQ(returnedCookiesOf("Set-Cookie: a=1\nX-Injected: 1\r\n"), "a=1");
  EXPECT_EQ(internetCookiesOf("Set-Cookie: a=1\rX: 1; path=/\r\n"), "a=1; ");
}

// Cookie and header texts are bytes, not code-page text: a value ending in a
// byte of 0x80 or above must not pair with the ";" after it.
TEST(CookieTextTest, HighBytesNeverSwallowASeparator) {
  struct Case {
    const char* oldCookies;
    const char* newCookies;
    const char* merged;
  };
  const Case cases[] = {
      {"a=\xB0; b=2", "c=3", "c=3; a=\xB0; b=2"},
      {"b=1", "a=\xB0; b=2", "a=\xB0; b=2"},
      {"a=\xB0; b=2", "b=deleted", "a=\xB0"},
      {"a=1", "x=\xFE;\xC4=deleted; a=\x81", "x=\xFE; a=\x81"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(mergeCookies(c.oldCookies, c.newCookies), c.merged)
        << c.oldCookies << " + " << c.newCookies;
  EXPECT_EQ(responseCookiesOf("Set-Cookie: a=\xB0Set-Cookie: b=2\r\n"),
            "a=\xB0"
            "b=2; ");
}

TEST(CookieTextTest, LineBreaksInACookieTextAreSeen) {
  EXPECT_TRUE(breaksHeaderLine("a=1\r\nX-Injected: 1"));
  EXPECT_TRUE(breaksHeaderLine("a=1\nb=2"));
  EXPECT_TRUE(breaksHeaderLine("a=1\r"));
  EXPECT_FALSE(breaksHeaderLine("a=1; b=2"));
  EXPECT_FALSE(breaksHeaderLine(""));
}

}  // namespace
}  // namespace qarvo
