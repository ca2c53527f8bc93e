// Settings writes that the disk stops part-way, at every byte.
//
// A change in the middle of the settings file rewrites the bytes from the
// change to the end, so an interruption can leave any mix of new and old
// bytes behind. Whatever the point, the file must never be shorter than
// before the edit (no setting beyond the change is ever cut away), the bytes
// before the change must be untouched, the store's image must hold the edit,
// and the next write that gets through must bring the file in line again.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/native_file.h"
#include "settings/scratch_folder.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"

namespace qarvo {
namespace {

const std::string kBefore =
    "[A]\r\nk=a rather long value here\r\nnext=1\r\n[B]\r\nz=2\r\nlast=" + std::string(40, 'q');

// One edit and the image it leads to.
struct Edit {
  const char* name;
  std::string section;
  std::string key;
  std::string value;
  std::string after;
  bool onePass;  // one change of the file (the key and section exist)
};

std::vector<Edit> edits() {
  const std::string tail = "\r\n[B]\r\nz=2\r\nlast=" + std::string(40, 'q');
  return {
      {"shorter value", "A", "k", "short", "[A]\r\nk=short\r\nnext=1" + tail, true},
      {"longer value", "A", "k", "a far longer value than the one that was there",
       "[A]\r\nk=a far longer value than the one that was there\r\nnext=1" + tail, true},
      {"same length", "A", "next", "9", "[A]\r\nk=a rather long value here\r\nnext=9" + tail, true},
      {"emptied value", "B", "z", "",
       "[A]\r\nk=a rather long value here\r\nnext=1\r\n[B]\r\nz=" + std::string("\r\nlast=") +
           std::string(40, 'q'),
       true},
      {"new key before the next section", "A", "fresh", "v",
       "[A]\r\nk=a rather long value here\r\nnext=1\r\nfresh=v" + tail, false},
      {"new section at the end", "C", "c", "v", kBefore + "\r\n[C]\r\nc=v", false},
  };
}

// Where the value of an existing key starts in kBefore (0-based): a one-pass
// edit rewrites the file from there.
std::size_t valueOffset(const Edit& edit) {
  const std::size_t header = kBefore.find("[" + edit.section + "]");
  return kBefore.find("\r\n" + edit.key + "=", header) + 2 + edit.key.size() + 1;
}

// Bytes `a` and `b` share from the start.
std::size_t commonPrefix(const std::string& a, const std::string& b) {
  std::size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n])
    ++n;
  return n;
}

// A disk that takes `budget` bytes in all and then fails every write with
// EIO, handing out at most `chunk` bytes per call. It counts what it took.
struct Disk {
  std::size_t budget = 0;
  std::size_t chunk = SIZE_MAX;
  std::size_t taken = 0;
  int calls = 0;
  bool truncateFails = false;

  FileOps ops() {
    FileOps ops = FileOps::system();
    ops.writeAt = [this](int fd, const void* data, std::size_t size, off_t offset) -> ssize_t {
      ++calls;
      const std::size_t left = budget - taken;
      if (left == 0) {
        errno = EIO;
        return -1;
      }
      const std::size_t now = std::min({size, left, chunk});
      ssize_t written = ::pwrite(fd, data, now, offset);
      if (written > 0)
        taken += static_cast<std::size_t>(written);
      return written;
    };
    if (truncateFails) {
      ops.truncate = [](int, off_t) {
        errno = EIO;
        return -1;
      };
    }
    return ops;
  }
};

class InterruptedWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    path_ = folder_.file("Qarvo·Dorvane.ini");
  }

  // A fresh store on a file holding kBefore.
  std::unique_ptr<SettingsStore> openFresh() {
    EXPECT_TRUE(writeWholeFile(path_, kBefore));
    auto store = std::make_unique<SettingsStore>();
    EXPECT_TRUE(store->openSettingsFile(path_));
    return store;
  }
  std::string disk() const { return ScratchFolder::contents(path_); }

  // The bytes the edit puts on disk when nothing fails.
  std::size_t bytesNeeded(const Edit& edit) {
    Disk counting{.budget = SIZE_MAX};
    auto store = openFresh();
    store->setFileOps(counting.ops());
    EXPECT_EQ(store->writeKey(edit.section, edit.key, edit.value), SettingsStore::kWritten);
    EXPECT_EQ(disk(), edit.after);
    return counting.taken;
  }

  ScratchFolder folder_;
  Text path_;
};

TEST_F(InterruptedWriteTest, EveryInterruptionPointKeepsTheFileWholeUntilTheNextWriteHealsIt) {
  for (const Edit& edit : edits()) {
    SCOPED_TRACE(edit.name);
    const std::size_t needed = bytesNeeded(edit);
    ASSERT_GT(needed, 0u);
    const std::size_t changeAt = commonPrefix(kBefore, edit.after);
    for (std::size_t budget = 0; budget < needed; ++budget) {
      SCOPED_TRACE("disk stops after " + std::to_string(budget) + " of " + std::to_string(needed) +
                   " bytes");
      Disk failing{.budget = budget};
      auto store = openFresh();
      store->setFileOps(failing.ops());
      EXPECT_EQ(store->writeKey(edit.section, edit.key, edit.value), SettingsStore::kFailed);

      // The run goes on with the edit: reads come from the image.
      EXPECT_EQ(store->image(), edit.after);
      EXPECT_EQ(store->readKey(edit.section, edit.key, "<missing>"), edit.value);

      const std::string onDisk = disk();
      ASSERT_GE(onDisk.size(), kBefore.size());
      EXPECT_EQ(onDisk.substr(0, changeAt), kBefore.substr(0, changeAt));
      if (edit.onePass) {
        // One rewrite from the change on: new bytes as far as the disk took
        // them, the old bytes after that.
        const std::size_t reached = valueOffset(edit) + budget;
        std::string expected = edit.after.substr(0, reached);
        if (reached < kBefore.size())
          expected += kBefore.substr(reached);
        EXPECT_EQ(onDisk, expected);
      }

      // A later write that gets through mends the whole file, the bytes of the
      // interrupted edit included.
      store->setFileOps(FileOps::system());
      EXPECT_EQ(store->writeKey("B", "last", "healed"), SettingsStore::kWritten);
      EXPECT_EQ(disk(), store->image());
      EXPECT_EQ(store->readKey(edit.section, edit.key, "<missing>"), edit.value);
    }
  }
}

TEST_F(InterruptedWriteTest, ShortWritesAndAFailedCut) {
  for (const Edit& edit : edits()) {
    SCOPED_TRACE(edit.name);
    // A disk that takes three bytes per call but takes everything in the end.
    {
      const std::size_t needed = bytesNeeded(edit);
      Disk slow{.budget = SIZE_MAX, .chunk = 3};
      auto store = openFresh();
      store->setFileOps(slow.ops());
      EXPECT_EQ(store->writeKey(edit.section, edit.key, edit.value), SettingsStore::kWritten);
      EXPECT_EQ(disk(), edit.after);
      EXPECT_EQ(slow.taken, needed);
      EXPECT_GE(static_cast<std::size_t>(slow.calls), (needed + 2) / 3);
    }
    // Every byte written but the file cannot be cut: a shorter image leaves
    // stale bytes at the end, never too few.
    {
      Disk noCut{.budget = SIZE_MAX, .truncateFails = true};
      auto store = openFresh();
      store->setFileOps(noCut.ops());
      const int result = store->writeKey(edit.section, edit.key, edit.value);
      const std::string onDisk = disk();
      if (edit.after.size() < kBefore.size()) {
        EXPECT_EQ(result, SettingsStore::kFailed);
        EXPECT_EQ(onDisk.size(), kBefore.size());
        EXPECT_EQ(onDisk.substr(0, edit.after.size()), edit.after);
      } else {
        EXPECT_EQ(result, SettingsStore::kWritten);
        EXPECT_EQ(onDisk, edit.after);
      }
      store->setFileOps(FileOps::system());
      EXPECT_EQ(store->writeKey("A", "next", "2"), SettingsStore::kWritten);
      EXPECT_EQ(disk(), store->image());
    }
  }
}

TEST_F(InterruptedWriteTest, FileLeftByAnInterruptedWriteStillOpensAndKeepsWhatCameBefore) {
  // The program ends right after the interrupted write: the next start reads
  // the file as it was left. Everything before the change reads as before.
  for (const Edit& edit : edits()) {
    SCOPED_TRACE(edit.name);
    const std::size_t needed = bytesNeeded(edit);
    for (std::size_t budget : {std::size_t{0}, needed / 2, needed - 1}) {
      SCOPED_TRACE(budget);
      {
        Disk failing{.budget = budget};
        auto store = openFresh();
        store->setFileOps(failing.ops());
        EXPECT_EQ(store->writeKey(edit.section, edit.key, edit.value), SettingsStore::kFailed);
      }
      SettingsStore next;
      ASSERT_TRUE(next.openSettingsFile(path_));
      EXPECT_EQ(next.image(), disk());
      EXPECT_GE(next.image().size(), kBefore.size());
      if (commonPrefix(kBefore, edit.after) >= kBefore.find("\r\nnext=")) {
        // The change lies after k's line.
        EXPECT_EQ(next.readKey("A", "k", "<missing>"), "a rather long value here");
      }
      // And the next write puts a whole, well-formed file on disk.
      EXPECT_EQ(next.writeKey("D", "d", "1"), SettingsStore::kWritten);
      EXPECT_EQ(disk(), next.image());
      EXPECT_EQ(next.readKey("D", "d", "<missing>"), "1");
    }
  }
}

}  // namespace
}  // namespace qarvo
