// Kept pages: named safely inside their folder, readable as UTF-8, and no
// more than kKeptPagesLimit of them, while the user's own files stay.
#include "engine/kept_pages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "platform/code_page.h"

namespace qarvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Points $XDG_CACHE_HOME at a folder for one test and puts it back after.
class CacheHome {
 public:
  explicit CacheHome(const std::string& value) {
    if (const char* old = std::getenv("XDG_CACHE_HOME"))
      old_ = std::string(old);
    setenv("XDG_CACHE_HOME", value.c_str(), 1);
  }
  ~CacheHome() {
    if (old_)
      setenv("XDG_CACHE_HOME", old_->c_str(), 1);
    else
      unsetenv("XDG_CACHE_HOME");
  }

 private:
  std::optional<std::string> old_;
};

class KeptPagesTest : public ::testing::Test {
 protected:
  std::string pagesFolder() const { return temp_.utf8Path() + "/qarvo-dorvane/pages"; }

  TempDir temp_;
  CacheHome cacheHome_{temp_.utf8Path()};
};

// The name without its "-YYYYMMDD-HHMMSS-n.html" ending, "<no stamp>" when it
// has none.
std::string withoutStamp(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  const std::string form = "-########-######-";
  const size_t end = name.rfind(".html");
  size_t at = name.rfind('-', end);
  if (end == std::string::npos || at == std::string::npos || at + 1 == end ||
      name.find_first_not_of("0123456789", at + 1) != end || at < form.size())
    return "<no stamp>";
  at -= form.size() - 1;
  for (size_t i = 0; i < form.size(); ++i) {
    const char c = name[at + i];
    if (form[i] == '#' ? (c < '0' || c > '9') : c != form[i])
      return "<no stamp>";
  }
  return name.substr(0, at);
}

std::string repeated(const std::string& text, size_t times) {
  std::string result;
  for (size_t i = 0; i < times; ++i)
    result += text;
  return result;
}

KeptPage plainPage(int n) {
  return {.serviceKey = n % 2 == 0 ? "aizhan" : "chinaz",
          .address = "user" + std::to_string(n) + "@example.com",
          .page = 1,
          .url = "https://whois.example/reverse?q=" + std::to_string(n),
          .status = 200,
          .body = "<html>" + std::to_string(n) + "</html>"};
}

TEST_F(KeptPagesTest, FiftyNewestStayNamedSafelyInsideTheFolderBesideTheUsersFiles) {
  ASSERT_EQ(gbkToUtf8(keptPagesFolder()), pagesFolder());
  fs::create_directories(pagesFolder());
  // Older than any page, so they would go first if they were counted.
  const std::vector<std::string> foreign = {"notes.txt",        "mine.html",
                                            "aizhan.html",      "aizhanx-1.html",
                                            "chinaz-draft.htm", "aizhan-folder.html"};
  for (const std::string& name : foreign) {
    if (name.ends_with("folder.html"))
      fs::create_directory(pagesFolder() + "/" + name);
    else
      std::ofstream(pagesFolder() + "/" + name) << "the user's";
    fs::last_write_time(pagesFolder() + "/" + name, fs::file_time_type::clock::now() - 240h);
  }

  const std::string chineseBody = "<p>访问过于频繁，请输入验证码</p>";
  std::vector<KeptPage> pages;
  for (int n = 0; n < 55; ++n)
    pages.push_back(plainPage(n));
  pages[10].address = "../x/y@z";
  pages[11].address =
      "a\x01"
      "b\x7f@c\td";
  pages[12].address = gbk(repeated("测", 100) + "@example.com");
  pages[13] = {.serviceKey = "aizhan",
               .address = gbk("用户@example.com"),
               .page = 3,
               .url = "https://whois.example/p?q=a--b&z=-->",
               .status = 403,
               .body = gbk(chineseBody)};
  pages[21] = pages[20];  // the same page twice, most likely in the same second

  std::vector<std::string> kept;
  for (size_t n = 0; n < pages.size(); ++n) {
    const Text path = keepPage(pages[n]);
    ASSERT_FALSE(path.empty()) << n;
    kept.push_back(gbkToUtf8(path));
    // Times a second apart, so the oldest are known whatever the clock's grain.
    fs::last_write_time(kept.back(),
                        fs::file_time_type::clock::now() - 200s + static_cast<int>(n) * 1s);
  }

  for (size_t n = 0; n < kept.size(); ++n)
    EXPECT_EQ(fs::exists(kept[n]), n >= 5) << kept[n];
  EXPECT_NE(kept[20], kept[21]);
  size_t count = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(pagesFolder())) {
    EXPECT_EQ(entry.path().parent_path(), pagesFolder());
    ++count;
  }
  EXPECT_EQ(count, 50 + foreign.size());
  for (const std::string& name : foreign)
    EXPECT_TRUE(fs::exists(pagesFolder() + "/" + name)) << name;

  EXPECT_EQ(withoutStamp(kept[10]), "aizhan-.._x_y@z-p1");
  EXPECT_EQ(withoutStamp(kept[11]), "chinaz-a_b_@c_d-p1");
  // Cut to fit a file name, between characters.
  const std::string longName = fs::path(kept[12]).filename().string();
  EXPECT_LE(longName.size(), 254u);
  EXPECT_GE(longName.size(), 252u);
  const std::string cut = withoutStamp(kept[12]);
  EXPECT_EQ(cut, "aizhan-" + repeated("测", (cut.size() - 10) / 3) + "-p1");
  EXPECT_EQ(withoutStamp(kept[0]), "aizhan-user0@example.com-p1");
  EXPECT_EQ(withoutStamp(kept[20]), "aizhan-user20@example.com-p1");
  EXPECT_EQ(withoutStamp(kept[21]), "aizhan-user20@example.com-p1");
  for (const std::string& path : kept)
    EXPECT_EQ(fs::path(path).parent_path(), pagesFolder()) << path;

  const std::string content = fileBytes(utf8ToGbk(kept[13]));
  EXPECT_TRUE(content.starts_with(
      "<!-- qarvo-dorvane kept page: service aizhan, address 用户@example.com, page 3, status "
      "403, url https://whois.example/p?q=a- -b&z=- ->, time "))
      << content;
  // The comment ends where the program ends it, and the page follows as UTF-8.
  const size_t commentEnd = content.find("-->");
  ASSERT_NE(commentEnd, std::string::npos);
  EXPECT_EQ(content.find("--", 4), commentEnd);
  EXPECT_EQ(content.substr(commentEnd), "-->\n<meta charset=\"utf-8\">\n" + chineseBody);
  EXPECT_NE(fileBytes(utf8ToGbk(kept[30])).find("url https://whois.example/reverse?q=30,"),
            std::string::npos);
}

TEST_F(KeptPagesTest, NothingIsKeptWhereNoFileCanBeMadeOrNoKnownServiceNamesIt) {
  std::ofstream(temp_.utf8Path() + "/plain-file") << "x";
  struct Case {
    const char* what;
    std::string cacheHome;
    std::string serviceKey;
  };
  const Case cases[] = {
      {"cache folder below a file", temp_.utf8Path() + "/plain-file/cache", "aizhan"},
      {"unknown service", temp_.utf8Path(), "../evil"},
      {"no service", temp_.utf8Path(), ""},
  };
  for (const Case& c : cases) {
    CacheHome cacheHome(c.cacheHome);
    KeptPage page = plainPage(1);
    page.serviceKey = c.serviceKey;
    EXPECT_EQ(keepPage(page), Text()) << c.what;
  }
  EXPECT_FALSE(fs::exists(temp_.utf8Path() + "/qarvo-dorvane")) << "nothing written";
}

}  // namespace
}  // namespace qarvo
