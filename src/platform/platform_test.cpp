#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/dbcs.h"
#include "platform/event_pump.h"
#include "platform/native_file.h"

namespace qarvo {
namespace {

TEST(CodePage, RoundTripsChineseThroughUtf8AndUtf16) {
  const std::string utf8 = "查询完成！abc";
  Text text = utf8ToGbk(utf8);
  EXPECT_EQ(text,
            "\xB2\xE9\xD1\xAF\xCD\xEA\xB3\xC9\xA3\xA1"
            "abc");
  EXPECT_EQ(gbkToUtf8(text), utf8);
  EXPECT_EQ(gbkToUtf16(text), u"查询完成！abc");
  EXPECT_EQ(utf16ToGbk(u"查询完成！abc"), text);
  EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(utf8)), utf8);
}

TEST(CodePage, SubstitutesInvalidInputInsteadOfFailing) {
  // A lead byte at the very end and an invalid pair in the middle.
  EXPECT_EQ(gbkToUtf8("a\xFF\x20"
                      "b\xB2"),
            "a\xEF\xBF\xBD b\xEF\xBF\xBD");
  // A lone surrogate becomes "?".
  EXPECT_EQ(utf16ToGbk(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b");
  EXPECT_EQ(utf8ToUtf16("\xC3"), u"\uFFFD");
  EXPECT_EQ(gbkToUtf8(""), "");
  std::string out;
  EXPECT_FALSE(convertEncoding("x", "NO-SUCH-CHARSET", "UTF-8", "?", &out));
  EXPECT_TRUE(out.empty());
}

// The code page is GB18030: GBK text reads as it did, and characters that
// GBK lacks keep their own four-byte form instead of becoming "?".
TEST(CodePage, Gb18030KeepsGbkAndEveryOtherCharacter) {
  EXPECT_EQ(utf8ToGbk("结果"), "\xBD\xE1\xB9\xFB");  // the GBK bytes
  EXPECT_EQ(gbkToUtf8("\xB2\xE9\xD1\xAF"), "查询");
  for (const char* path : {"/home/jörg", "/tmp/结果-😀", "/ünïcødé/€/𠀀"}) {
    const Text text = utf8ToGbk(path);
    EXPECT_EQ(text.find('?'), Text::npos) << path;
    EXPECT_EQ(gbkToUtf8(text), path);
    EXPECT_EQ(utf16ToGbk(gbkToUtf16(text)), text) << path;
  }
  EXPECT_EQ(utf8ToGbk("😀"), "\x94\x39\xFC\x36");
  EXPECT_EQ(utf8ToGbk("ö"), "\x81\x30\x8B\x32");
}

// The GBK <-> UTF-16 conversions take ASCII runs apart from the rest; the
// result must be what one conversion of the whole text gives, for any bytes,
// broken characters and lone surrogates included.
TEST(CodePage, ConvertingInPiecesMatchesConvertingTheWhole) {
  std::mt19937 random(7);
  // Digits after lead bytes make four-byte GB18030 characters, whole and
  // broken.
  const unsigned char kinds[][2] = {{0x00, 0x3F}, {0x40, 0x7F}, {0x80, 0x80}, {0x81, 0xFE},
                                    {0xA1, 0xA1}, {0xFF, 0xFF}, {0x30, 0x39}, {0x81, 0x84}};
  const char* gbkName = "GB18030";
  for (int round = 0; round < 20000; ++round) {
    Text text;
    // Every other round a longer text, mostly ASCII, for the runs that go
    // sixteen at a time.
    const bool longer = round % 2 == 1;
    const int length = static_cast<int>(random() % (longer ? 70 : 12));
    for (int i = 0; i < length; ++i) {
      const auto& kind = kinds[longer && random() % 8 != 0 ? random() % 2 : random() % 8];
      text.push_back(static_cast<char>(kind[0] + random() % (kind[1] - kind[0] + 1)));
    }
    std::string whole;
    convertEncoding(text, gbkName, "UTF-16LE", std::string_view("\xFD\xFF", 2), &whole);
    const std::u16string units = gbkToUtf16(text);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2), whole)
        << "GBK bytes of round " << round;

    std::u16string utf16;
    for (int i = 0; i < length; ++i) {
      const char16_t choices[] = {u'a',
                                  u'<',
                                  u'\u3000',
                                  u'\u4E2D',
                                  u'\u00E9',
                                  char16_t(0xD800),
                                  char16_t(0xDC00),
                                  char16_t(0xD83D),
                                  char16_t(0xDE00)};
      utf16.push_back(choices[longer && random() % 8 != 0 ? random() % 2 : random() % 9]);
    }
    convertEncoding(std::string_view(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2),
                    "UTF-16LE", gbkName, "?", &whole);
    ASSERT_EQ(utf16ToGbk(utf16), whole) << "UTF-16 units of round " << round;
  }
}

// Every lead/trail pair of the code page, back to back (so each invalid pair
// leaves its trail byte to start the next character), and every UTF-16 unit
// of the basic plane: as iconv converts them in one go.
TEST(CodePage, EveryDoubleByteCharacterConvertsAsIconvConvertsIt) {
  const char* gbkName = "GB18030";
  std::string whole;
  for (const char* separator : {"", "\n", "a"}) {
    Text pairs;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
      for (int trail = 0x30; trail <= 0xFF; ++trail) {
        pairs.push_back(static_cast<char>(lead));
        pairs.push_back(static_cast<char>(trail));
        pairs.append(separator);
      }
    }
    convertEncoding(pairs, gbkName, "UTF-16LE", std::string_view("\xFD\xFF", 2), &whole);
    const std::u16string units = gbkToUtf16(pairs);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2), whole)
        << "pairs separated by \"" << separator << "\"";
  }

  // In blocks of 256 units: iconv takes long over a text with many
  // characters that it cannot convert.
  for (int first = 0; first <= 0xFF00; first += 0x100) {
    std::u16string block;
    for (int unit = std::max(first, 1); unit <= first + 0xFF; ++unit)
      block.push_back(static_cast<char16_t>(unit));
    convertEncoding(std::string_view(reinterpret_cast<const char*>(block.data()), block.size() * 2),
                    "UTF-16LE", gbkName, "?", &whole);
    ASSERT_EQ(utf16ToGbk(block), whole) << "units from " << first;
  }
}

// UTF-8 into GB18030 and GBK copies ASCII itself and leaves the rest to
// iconv; the result must be iconv's for the whole text ("//" after a name
// takes the plain way through iconv).
TEST(CodePage, Utf8IntoAnAsciiCodePageMatchesIconvOverTheWhole) {
  const char* pieces[] = {"a",
                          "<td>",
                          "0123456789abcdefghij",
                          "\xE4\xB8\xAD",
                          "\xE3\x80\x80",
                          "\xC3\xA9",
                          "\xE4\xB8",
                          "\xE4",
                          "\x80",
                          "\xBF",
                          "\xF0\x9F\x98\x80",
                          "\xF0\x9F",
                          "\xFF",
                          "\xED\xA0\x80",
                          " "};
  std::mt19937 random(5);
  for (const char* target : {"GB18030", "GBK", "CP936"}) {
    const std::string plain = std::string(target) + "//";
    std::string probe;
    if (!convertEncoding("a", "UTF-8", plain.c_str(), "?", &probe))
      continue;
    for (int round = 0; round < 5000; ++round) {
      std::string text;
      const int count = static_cast<int>(random() % 12);
      for (int i = 0; i < count; ++i)
        text += pieces[random() % std::size(pieces)];
      std::string whole;
      std::string fast;
      ASSERT_TRUE(convertEncoding(text, "UTF-8", plain.c_str(), "?", &whole));
      ASSERT_TRUE(convertEncoding(text, "UTF-8", target, "?", &fast));
      ASSERT_EQ(fast, whole) << target << ", round " << round;
    }
  }
  std::string out;
  EXPECT_TRUE(convertEncoding("abc \xE4\xB8\xAD", "utf-8", "gb18030", "?", &out));
  EXPECT_EQ(out, "abc \xD6\xD0");
}

// Every character of the basic plane, as UTF-8, alone between ASCII bytes and
// back to back, into each code page that keeps ASCII: what the tables give
// must be what iconv gives for the whole text.
TEST(CodePage, Utf8IntoAnAsciiCodePageMatchesIconvForEveryCharacter) {
  for (const char* target : {"GB18030", "GBK", "CP936"}) {
    const std::string plain = std::string(target) + "//";
    std::string probe;
    if (!convertEncoding("a", "UTF-8", plain.c_str(), "?", &probe))
      continue;
    // In blocks of 256 units: iconv takes long over a text with many
    // characters that it cannot convert.
    for (unsigned first = 0; first <= 0xFF00; first += 0x100) {
      if (first >= 0xD800 && first <= 0xDF00)
        continue;
      for (const char* separator : {"", "<"}) {
        std::string text;
        for (unsigned unit = std::max(first, 0x80u); unit <= first + 0xFF; ++unit) {
          text += utf16ToUtf8(std::u16string(1, static_cast<char16_t>(unit)));
          text += separator;
        }
        std::string whole;
        std::string fast;
        ASSERT_TRUE(convertEncoding(text, "UTF-8", plain.c_str(), "?", &whole));
        ASSERT_TRUE(convertEncoding(text, "UTF-8", target, "?", &fast));
        ASSERT_TRUE(fast == whole)
            << target << ", units from " << first << ", separator \"" << separator << "\"";
      }
    }
  }
}

// survivesUtf16RoundTrip vouches for a text only when the trip through UTF-16
// gives it back unchanged, and it does vouch for ordinary text.
TEST(CodePage, RoundTripCheckVouchesOnlyForTextThatComesBack) {
  std::mt19937 random(3);
  const unsigned char kinds[][2] = {{0x00, 0x7F}, {0x80, 0x80}, {0x81, 0xFE},
                                    {0xA1, 0xA1}, {0xB0, 0xF7}, {0xFF, 0xFF}};
  int vouched = 0;
  for (int round = 0; round < 50000; ++round) {
    Text text;
    const int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i) {
      const auto& kind = kinds[random() % std::size(kinds)];
      text.push_back(static_cast<char>(kind[0] + random() % (kind[1] - kind[0] + 1)));
    }
    if (survivesUtf16RoundTrip(text)) {
      ++vouched;
      ASSERT_EQ(utf16ToGbk(gbkToUtf16(text)), text) << "round " << round;
    }
  }
  EXPECT_GT(vouched, 1000);
  // Every pair of the code page alone.
  int pairsVouched = 0;
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int trail = 0x00; trail <= 0xFF; ++trail) {
      const Text pair{static_cast<char>(lead), static_cast<char>(trail)};
      if (survivesUtf16RoundTrip(pair)) {
        ++pairsVouched;
        ASSERT_EQ(utf16ToGbk(gbkToUtf16(pair)), pair) << lead << " " << trail;
      }
    }
  }
  EXPECT_GT(pairsVouched, 20000);  // GBK has some 21,900 characters
  EXPECT_TRUE(survivesUtf16RoundTrip(""));
  EXPECT_TRUE(survivesUtf16RoundTrip(utf8ToGbk("<td>查询完成！</td>\r\n\t 　abc=\"x\"")));
  EXPECT_FALSE(survivesUtf16RoundTrip("abc\xB2"));  // a lead byte at the end
  EXPECT_FALSE(
      survivesUtf16RoundTrip("a\xFF"
                             "A"));  // no character of the code page
  EXPECT_FALSE(
      survivesUtf16RoundTrip("a\xB2"
                             " b"));  // a lead byte before a blank
  // The broken byte comes back as U+FFFD, which GB18030 holds.
  EXPECT_EQ(utf16ToGbk(gbkToUtf16("a\xB2"
                                  " b")),
            "a\x84\x31\xA4\x37 b");
}

// Charset names come from servers: a flood of made-up or rare names must
// not grow the converters kept open, and a name iconv refused is not kept.
TEST(CodePage, ConverterCacheIsBoundedAndKeepsNoFailedOpens) {
  std::string out;
  const std::size_t before = openConverterCount();
  for (int i = 0; i < 1000; ++i)
    EXPECT_FALSE(
        convertEncoding("x", ("X-NO-SUCH-" + std::to_string(i)).c_str(), "UTF-8", "?", &out));
  EXPECT_EQ(openConverterCount(), before);
  const char* names[] = {"ISO-8859-1",  "ISO-8859-2",  "ISO-8859-3",  "ISO-8859-4",  "ISO-8859-5",
                         "ISO-8859-6",  "ISO-8859-7",  "ISO-8859-8",  "ISO-8859-9",  "ISO-8859-10",
                         "ISO-8859-13", "ISO-8859-14", "ISO-8859-15", "ISO-8859-16", "CP1250",
                         "CP1251",      "CP1252",      "CP1253",      "CP1254",      "CP1255",
                         "CP1256",      "CP1257",      "CP1258",      "KOI8-R",      "KOI8-U",
                         "BIG5",        "BIG5-HKSCS",  "EUC-JP",      "SHIFT_JIS",   "EUC-KR",
                         "UTF-16BE",    "UTF-32LE"};
  for (int round = 0; round < 3; ++round) {
    for (const char* name : names) {
      ASSERT_TRUE(convertEncoding("abc", "UTF-8", name, "?", &out)) << name;
      EXPECT_LE(openConverterCount(), 24u);
    }
  }
  // Converters closed to make room open again and still convert right.
  ASSERT_TRUE(convertEncoding("\xE9", "ISO-8859-1", "UTF-8", "?", &out));
  EXPECT_EQ(out, "é");
  EXPECT_EQ(gbkToUtf8(utf8ToGbk("查询完成")), "查询完成");
}

// The conversions into a kept buffer replace its content.
TEST(CodePage, ConversionsIntoABufferReplaceItsContent) {
  std::u16string units = u"old content that is long";
  gbkToUtf16(utf8ToGbk("中a"), &units);
  EXPECT_EQ(units, u"中a");
  gbkToUtf16("", &units);
  EXPECT_TRUE(units.empty());
  Text text = "old content that is long";
  utf16ToGbk(u"中a", &text);
  EXPECT_EQ(text, utf8ToGbk("中a"));
}

TEST(Dbcs, SearchesNeverStartOnATrailByte) {
  // 0xD5 0x5C is one character whose trail byte is a backslash.
  const Text text =
      "\xD5\x5C"
      "\\x";
  EXPECT_EQ(findText(text, "\\"), 3);
  EXPECT_EQ(findLastText(text, "\\"), 3);
  EXPECT_EQ(findText("\xD5\x7C|", "|"), 3);
  EXPECT_EQ(replaceAllText("\xD5\x5C\\", "\\", "\\\\"), "\xD5\x5C\\\\");
}

TEST(Dbcs, SearchPositionsAndCaseFolding) {
  EXPECT_EQ(findText("abcABC", "ABC"), 4);
  EXPECT_EQ(findText("abcABC", "ABC", 1, true), 1);
  EXPECT_EQ(findText("abcABC", "abc", 2, true), 4);
  EXPECT_EQ(findText("abc", "abc", -5), 1);
  EXPECT_EQ(findText("abc", "", 1), -1);
  EXPECT_EQ(findText("ab", "abc"), -1);
  EXPECT_EQ(findText("abc", "c", 99), -1);
  EXPECT_EQ(findLastText("abcabc", "abc"), 4);
  EXPECT_EQ(findLastText("abcabc", "abc", 5), 1);
  EXPECT_EQ(asciiToUpper("ab\xC4\x61z"), "AB\xC4\x61Z");
  EXPECT_EQ(asciiToLower("AB\xC4\x41Z"), "ab\xC4\x41z");
  // Long texts go many ASCII bytes at a time: every byte value, at every
  // offset, folds as it does alone.
  for (int shift = 0; shift < 33; ++shift) {
    Text all(static_cast<std::size_t>(shift), 'Q');
    for (int c = 0; c < 0x80; ++c)
      all.push_back(static_cast<char>(c));
    all += "\xC4\x41XYZ[@`az{";
    Text expected;
    for (std::size_t i = 0; i < all.size(); ++i) {
      const char c = all[i];
      const bool trail = i > 0 && all[i - 1] == '\xC4';
      expected.push_back(!trail && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    }
    EXPECT_EQ(asciiToLower(all), expected) << "shift " << shift;
  }
}

// Random GBK-like text: a character folds as it does alone, wherever the
// double-byte characters fall among the blocks the folding works in.
TEST(Dbcs, LowerCasingMatchesCharacterByCharacter) {
  std::mt19937 random(23);
  const char* pieces[] = {"A",        "z",    "Q",    "<TD>", "\xC4\x41",
                          "\xB0\x5A", "@[`{", "\x80", "\xFF", " "};
  for (int round = 0; round < 20000; ++round) {
    Text text;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i)
      text += pieces[random() % std::size(pieces)];
    if (random() % 4 == 0)
      text.push_back('\xC4');  // a lead byte at the very end
    Text expected = text;
    for (std::size_t i = 0; i < expected.size();) {
      const std::size_t n = charLength(expected, i);
      if (n == 1)
        expected[i] = asciiLower(expected[i]);
      i += n;
    }
    ASSERT_EQ(asciiToLower(text), expected) << "round " << round;
    ASSERT_EQ(containsAsciiUpper(text),
              std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        << "round " << round;
  }
}

// searchBytes gives what TextView::find gives, for needles of every length
// from every start, hits near the end of the text included.
TEST(Dbcs, ByteSearchMatchesFind) {
  std::mt19937 random(29);
  const char alphabet[] = "<</>trd\xD5\x5C";
  const std::size_t letters = sizeof(alphabet) - 1;
  for (int round = 0; round < 30000; ++round) {
    Text text;
    const int length = static_cast<int>(random() % 70);
    for (int i = 0; i < length; ++i)
      text.push_back(alphabet[random() % letters]);
    Text what;
    const int needle = static_cast<int>(random() % 6);
    for (int i = 0; i < needle; ++i)
      what.push_back(alphabet[random() % letters]);
    if (random() % 3 == 0)
      what = (random() % 2 == 0) ? "</tr>" : "<tr";
    const std::size_t from = random() % (static_cast<std::size_t>(length) + 3);
    ASSERT_EQ(searchBytes(text, what, from), TextView(text).find(what, from))
        << "\"" << what << "\" in \"" << text << "\" from " << from;
  }
  EXPECT_EQ(searchBytes("<td></td></tr>", "</tr>"), 9u);
  EXPECT_EQ(searchBytes("<td></td></tr", "</tr>"), TextView::npos);
  EXPECT_EQ(searchBytes("abc", "", 3), 3u);
  EXPECT_EQ(searchBytes("abc", "", 4), TextView::npos);
}

int pumpCalls = 0;
void countingPump() {
  ++pumpCalls;
}

TEST(EventPump, IsANoOpUntilInstalled) {
  pumpCalls = 0;
  processPendingEvents();
  EventPump previous = setEventPump(countingPump);
  processPendingEvents();
  processPendingEvents();
  setEventPump(previous);
  processPendingEvents();
  EXPECT_EQ(pumpCalls, 2);
}

TEST(NativeFile, NamesAreUtf8AndContentsStayAsGiven) {
  char pattern[] = "/tmp/qarvo-platform-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const Text folder = Text(pattern) + "/" + utf8ToGbk("查询结果");
  EXPECT_TRUE(createDirectory(folder));
  EXPECT_FALSE(createDirectory(folder));
  EXPECT_EQ(access((std::string(pattern) + "/查询结果").c_str(), F_OK), 0);
  const Text file = folder + "/a@b.txt";
  const std::string content = "\xB2\xE9\r\nx";
  EXPECT_TRUE(writeWholeFile(file, content));
  std::string back;
  EXPECT_TRUE(readWholeFile(file, &back));
  EXPECT_EQ(back, content);
  EXPECT_TRUE(writeWholeFile(file, ""));
  EXPECT_TRUE(readWholeFile(file, &back));
  EXPECT_TRUE(back.empty());
  EXPECT_FALSE(readWholeFile(folder + "/missing", &back));
  EXPECT_FALSE(writeWholeFile(folder + "/no/such/dir.txt", "x"));
  std::system((std::string("rm -rf ") + pattern).c_str());
}

// Lists the names in a folder, so that a test can see no temporary file stayed.
std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(NativeFile, AFailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
  // With unnamed temporary files, and with named ones as on a file system
  // that has none.
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed" : "named");
    setUnnamedTemporaryFiles(unnamed);
    char pattern[] = "/tmp/qarvo-atomic-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const Text file = Text(folder) + "/" + utf8ToGbk("结果.txt");
    const std::string before(1000, 'a');
    ASSERT_TRUE(writeWholeFile(file, before));
    ASSERT_EQ(chmod((folder + "/结果.txt").c_str(), 0640), 0);

    // A file-size limit makes the write fail half-way, the way a full disk
    // does, whatever the user's rights.
    rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 4096;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool tooBig = writeWholeFileAtomically(file, std::string(100000, 'b'));
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(tooBig);
    std::string back;
    EXPECT_TRUE(readWholeFile(file, &back));
    EXPECT_EQ(back, before);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"结果.txt"});

    // A folder that is missing: nothing written, nothing left.
    EXPECT_FALSE(writeWholeFileAtomically(Text(folder) + "/missing/x.txt", "x"));
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"结果.txt"});

    // A name as long as the file system allows is written too; a new file
    // gets the permissions the user's umask leaves.
    const std::string longName(255, 'n');
    EXPECT_TRUE(writeWholeFileAtomically(Text(folder) + "/" + longName, "long"));
    const mode_t mask = umask(0);
    umask(mask);
    struct stat fresh;
    ASSERT_EQ(stat((folder + "/" + longName).c_str(), &fresh), 0);
    EXPECT_EQ(fresh.st_mode & 07777, 0666u & ~mask);
    ASSERT_EQ(unlink((folder + "/" + longName).c_str()), 0);

    // A successful replacement keeps the file's permissions.
    EXPECT_TRUE(writeWholeFile(file, "new"));
    EXPECT_TRUE(readWholeFile(file, &back));
    EXPECT_EQ(back, "new");
    struct stat info;
    ASSERT_EQ(stat((folder + "/结果.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"结果.txt"});

    // Where the folder cannot be written, the old file stays (only a user
    // without root rights is held back by the folder's permissions).
    if (geteuid() != 0) {
      ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
      EXPECT_FALSE(writeWholeFile(file, "blocked"));
      chmod(folder.c_str(), 0755);
      EXPECT_TRUE(readWholeFile(file, &back));
      EXPECT_EQ(back, "new");
    }
    std::system(("rm -rf " + folder).c_str());
  }
  setUnnamedTemporaryFiles(true);
}

}  // namespace
}  // namespace qarvo
