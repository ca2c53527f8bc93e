#include "cli/resume_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/cli_test_support.h"

namespace qarvo::cli {
namespace {

class ResumeJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("journal_test." + std::to_string(::getpid()) + "." +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string folder() const { return folder_.string(); }
  std::string journalPath() const { return (folder_ / ResumeJournal::kFileName).string(); }

  std::filesystem::path folder_;
};

AddressRecord found(const std::string& address, std::vector<std::string> domains) {
  return {.address = address, .status = "found", .domains = std::move(domains), .pages = 1};
}

TEST(ResumeJournalLineTest, ABothServicesLineKeepsEachOnesPagesAndWhoListedEachDomain) {
  const AddressRecord record{
      .address = "a@b.com",
      .status = "found",
      .domains = {"x.com", "y.cn", "z.com"},
      .pages = 4,
      .morePages = 2,
      .listedBy = {"aizhan", "aizhan+chinaz", "chinaz"},
      .services = {
          {.service = "aizhan",
           .status = "found",
           .pages = 1,
           .domains = {"x.com", "y.cn"},
           .morePages = 2},
          {.service = "chinaz", .status = "found", .pages = 3, .domains = {"y.cn", "z.com"}}}};
  const std::string line = ResumeJournal::formatLine("both/50", record);
  EXPECT_EQ(line, "both/50\tfound\t1+2,3\ta@b.com\t1:x.com\t3:y.cn\t2:z.com\n");
  std::string service;
  AddressRecord back;
  ASSERT_TRUE(ResumeJournal::parseLine(line, &service, &back));
  EXPECT_EQ(back.pages, 4);
  EXPECT_EQ(back.morePages, 2);
  EXPECT_EQ(back.domains, record.domains);
  EXPECT_EQ(back.listedBy, record.listedBy);
  ASSERT_EQ(back.services.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back.services[i].service, record.services[i].service);
    EXPECT_EQ(back.services[i].pages, record.services[i].pages);
    EXPECT_EQ(back.services[i].morePages, record.services[i].morePages);
    EXPECT_EQ(back.services[i].domains, record.services[i].domains);
  }
  for (const char* bad :
       {"both/50\tfound\t1,3\ta@b.com\tx.com\n", "both/50\tfound\t1,3\ta@b.com\t4:x.com\n",
        "both/50\tnone\t1,x\ta@b.com\n"})
    EXPECT_FALSE(ResumeJournal::parseLine(bad, &service, &back)) << bad;
}

TEST_F(ResumeJournalTest, EntriesComeBackInTheNextRunPerService) {
  {
    ResumeJournal journal;
    std::string error;
    ASSERT_TRUE(journal.open(folder(), &error)) << error;
    EXPECT_EQ(journal.size(), 0u);
    ASSERT_TRUE(journal.record("aizhan", found("a@b.com", {"x.com", "例子.中国"})));
    ASSERT_TRUE(journal.record("aizhan", {.address = "n@o.com", .status = "none", .pages = 1}));
    AddressRecord cut = found("cut@b.com", {"y.com"});
    cut.morePages = 12;
    ASSERT_TRUE(journal.record("aizhan", cut));
  }
  ResumeJournal journal;
  std::string error;
  ASSERT_TRUE(journal.open(folder(), &error)) << error;
  const AddressRecord* a = journal.find("aizhan", "a@b.com");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->status, "found");
  EXPECT_EQ(a->domains, (std::vector<std::string>{"x.com", "例子.中国"}));
  EXPECT_EQ(a->morePages, 0);
  ASSERT_NE(journal.find("aizhan", "n@o.com"), nullptr);
  EXPECT_TRUE(journal.find("aizhan", "n@o.com")->domains.empty());
  // Cut short by the page limit: said again exactly.
  const AddressRecord* cut = journal.find("aizhan", "cut@b.com");
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(cut->pages, 1);
  EXPECT_EQ(cut->morePages, 12);
  // Done with one service says nothing about the other.
  EXPECT_EQ(journal.find("chinaz", "a@b.com"), nullptr);
}

TEST_F(ResumeJournalTest, FieldsWithTabsPercentAndLineBreaksSurviveTheLine) {
  AddressRecord record = found("odd%09@x.com", {"a\tb.com", "c%d\r\ne.cn"});
  const std::string line = ResumeJournal::formatLine("aizhan", record);
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
  std::string service;
  AddressRecord back;
  ASSERT_TRUE(ResumeJournal::parseLine(line, &service, &back));
  EXPECT_EQ(service, "aizhan");
  EXPECT_EQ(back.address, record.address);
  EXPECT_EQ(back.domains, record.domains);
}

TEST_F(ResumeJournalTest, ALineCutByACrashIsDroppedAndTheNextLineStartsClean) {
  {
    ResumeJournal journal;
    std::string error;
    ASSERT_TRUE(journal.open(folder(), &error)) << error;
    ASSERT_TRUE(journal.record("aizhan", found("first@a.com", {"one.com"})));
    ASSERT_TRUE(journal.record("aizhan", found("second@a.com", {"two.com"})));
  }
  // A crash in the middle of the third line.
  const std::string third = ResumeJournal::formatLine("aizhan", found("third@a.com", {"3.com"}));
  {
    std::ofstream out(journalPath(), std::ios::app | std::ios::binary);
    out << third.substr(0, third.size() / 2);
  }
  {
    ResumeJournal journal;
    std::string error;
    ASSERT_TRUE(journal.open(folder(), &error)) << error;
    EXPECT_NE(journal.find("aizhan", "first@a.com"), nullptr);
    EXPECT_NE(journal.find("aizhan", "second@a.com"), nullptr);
    EXPECT_EQ(journal.find("aizhan", "third@a.com"), nullptr);
    ASSERT_TRUE(journal.record("aizhan", found("fourth@a.com", {"four.com"})));
  }
  ResumeJournal journal;
  std::string error;
  ASSERT_TRUE(journal.open(folder(), &error)) << error;
  EXPECT_EQ(journal.size(), 3u);
  EXPECT_NE(journal.find("aizhan", "fourth@a.com"), nullptr);
  EXPECT_EQ(fileText(journalPath()).find("third"), std::string::npos);
}

TEST_F(ResumeJournalTest, LinesThatAreNotCompletedLookUpsAreIgnored) {
  {
    std::ofstream out(journalPath(), std::ios::binary);
    out << "aizhan\tfailed\t0\tf@a.com\n"             // never journaled: not completed
        << "aizhan\tfound\t1\tempty@a.com\n"          // found without domains
        << "aizhan\tnone\tx\tbad-pages@a.com\n"       // pages not a number
        << "aizhan\tfound\t1+\tplus@a.com\tp.com\n"   // more pages missing
        << "aizhan\tfound\t1+0\tzero@a.com\tz.com\n"  // "+0" is never written
        << "aizhan\tfound\t1+2x\tjunk@a.com\tj.com\n"
        << "aizhan\tnone\t1\tbad%zzescape@a.com\n"  // broken escape
        << "garbage\n"
        << "aizhan\tnone\t1\tgood@a.com\n"
        << "aizhan\tfound\t2+3\tcut@a.com\tc.com\n";
  }
  ResumeJournal journal;
  std::string error;
  ASSERT_TRUE(journal.open(folder(), &error)) << error;
  EXPECT_EQ(journal.size(), 2u);
  EXPECT_NE(journal.find("aizhan", "good@a.com"), nullptr);
  ASSERT_NE(journal.find("aizhan", "cut@a.com"), nullptr);
  EXPECT_EQ(journal.find("aizhan", "cut@a.com")->morePages, 3);
}

TEST_F(ResumeJournalTest, ASecondRunIntoTheSameFolderIsRefusedWhileTheFirstHoldsIt) {
  ResumeJournal first;
  std::string error;
  ASSERT_TRUE(first.open(folder(), &error)) << error;
  ResumeJournal second;
  EXPECT_FALSE(second.open(folder(), &error));
  EXPECT_NE(error.find("another qarvo-lookup run"), std::string::npos) << error;
}

}  // namespace
}  // namespace qarvo::cli
