// Opening the history: what the file is, its schema and its upgrades, and
// a damaged file moved aside.
#include "engine/lookup_history.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "platform/code_page.h"
#include "platform/native_file.h"

namespace qarvo {

namespace {

using Step = SqliteStatement::Step;

constexpr int kSchemaVersion = 1;
// "Qrvo": tells our history from another program's database of the same name.
constexpr std::int64_t kApplicationId = 0x5172766F;
// The other front end's longest write is one look-up; even on a slow disk
// that is far shorter.
constexpr int kBusyTimeoutMs = 5000;

// kMigrations[n] brings a history of version n to version n + 1.
constexpr const char* kMigrations[] = {
    // 1: look-ups and their domains.
    "CREATE TABLE lookups("
    " id INTEGER PRIMARY KEY,"
    " address BLOB NOT NULL,"
    " address_key BLOB NOT NULL,"
    " service TEXT NOT NULL CHECK(service IN ('aizhan', 'chinaz')),"
    " page_limit INTEGER NOT NULL,"
    " pages_read INTEGER NOT NULL,"
    " pages_announced INTEGER NOT NULL,"
    " outcome TEXT NOT NULL"
    "  CHECK(outcome IN ('found', 'none', 'failed', 'incomplete', 'stopped')),"
    " reason TEXT NOT NULL,"
    " time_ms INTEGER NOT NULL);"
    "CREATE INDEX lookups_by_address ON lookups(address_key, service, time_ms);"
    "CREATE INDEX lookups_by_time ON lookups(time_ms);"
    "CREATE TABLE lookup_domains("
    " lookup_id INTEGER NOT NULL REFERENCES lookups(id) ON DELETE CASCADE,"
    " position INTEGER NOT NULL,"
    " domain BLOB NOT NULL,"
    " PRIMARY KEY(lookup_id, position)) WITHOUT ROWID;",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

std::string newerVersionProblem(std::int64_t version) {
  return "it was written by a newer version of the program (history version " +
         std::to_string(version) + ", this one knows up to " + std::to_string(kSchemaVersion) +
         "); it is left as it is";
}

// Brings the schema up to date, one version at a time, in one transaction:
// a second program making the same new history at the same moment finds it
// either untouched or complete.
bool migrate(SqliteConnection& db, std::string* why) {
  if (!db.execute("BEGIN IMMEDIATE")) {
    *why = db.errorMessage();
    return false;
  }
  std::int64_t version = 0;
  bool ok = db.queryInteger("PRAGMA user_version", &version);
  if (ok && version > kSchemaVersion) {
    db.execute("ROLLBACK");
    *why = newerVersionProblem(version);
    return false;
  }
  const bool changes = version < kSchemaVersion;
  for (; ok && version < kSchemaVersion; ++version)
    ok = db.execute(kMigrations[version]);
  if (ok && changes) {
    const std::string stamp = "PRAGMA user_version = " + std::to_string(kSchemaVersion) +
                              "; PRAGMA application_id = " + std::to_string(kApplicationId);
    ok = db.execute(stamp.c_str());
  }
  if (ok && db.execute("COMMIT"))
    return true;
  *why = db.errorMessage();
  db.execute("ROLLBACK");
  return false;
}

bool exists(const std::string& native) {
  struct stat info {};
  return lstat(native.c_str(), &info) == 0;
}

// Renames the damaged file to "<name>.damaged-<local time>". Its journal
// files (left only while another program still has it open) go with it:
// they belong to it, and SQLite would play them into the fresh file.
bool moveAside(const std::string& native, std::string* aside, std::string* why) {
  char stamp[32];
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = native + ".damaged-" + stamp;
  std::string target = base;
  for (int n = 2; exists(target) || exists(target + "-wal"); ++n)
    target = base + "-" + std::to_string(n);
  if (rename(native.c_str(), target.c_str()) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  for (const char* journal : {"-wal", "-shm", "-journal"}) {
    if (exists(native + journal))
      rename((native + journal).c_str(), (target + journal).c_str());
  }
  *aside = target;
  return true;
}

}  // namespace

void LookupHistory::close() {
  db_.close();
}

LookupHistory::Opening LookupHistory::openOnce(const std::string& native, std::string* why) {
  // Without a message of ours, SQLite's last failure says why.
  const auto failed = [&](std::string message = std::string()) {
    const bool damaged = message.empty() && db_.lastErrorIsDamage();
    *why = message.empty() ? db_.errorMessage() : std::move(message);
    db_.close();
    return damaged ? Opening::kDamaged : Opening::kFailed;
  };
  if (!db_.open(native))
    return failed();
  db_.setBusyTimeout(kBusyTimeoutMs);

  // What the file is, read in one snapshot: another program may be making
  // this history right now.
  std::int64_t id = 0, version = 0, objects = 0;
  if (!db_.execute("BEGIN") || !db_.queryInteger("PRAGMA application_id", &id) ||
      !db_.queryInteger("PRAGMA user_version", &version) ||
      !db_.queryInteger("SELECT count(*) FROM sqlite_schema", &objects))
    return failed();
  db_.execute("COMMIT");
  if (id != kApplicationId && (id != 0 || objects > 0))
    return failed("it is a database of another program; it is left as it is");
  if (version > kSchemaVersion)
    return failed(newerVersionProblem(version));

  // WAL lets the other front end read while this one writes. A file system
  // without shared memory keeps the old journal; the history works all the same.
  if (db_.prepare("PRAGMA journal_mode = WAL").step() == Step::kError)
    return failed();
  SqliteStatement check = db_.prepare("PRAGMA quick_check(1)");
  const Step step = check.step();
  if (step == Step::kError)
    return failed();
  if (const std::string verdict = step == Step::kRow ? check.bytes(0) : "no verdict";
      verdict != "ok") {
    check = SqliteStatement();
    db_.close();
    *why = "the integrity check says: " + verdict;
    return Opening::kDamaged;
  }
  check = SqliteStatement();
  // NORMAL is safe in WAL mode: a power cut may lose the last look-ups, never
  // the database.
  if (!db_.execute("PRAGMA foreign_keys = ON; PRAGMA synchronous = NORMAL"))
    return failed();
  std::string migration;
  if (!migrate(db_, &migration))
    return failed(migration);
  return Opening::kOpened;
}

bool LookupHistory::open(const Text& path, std::string* problem) {
  close();
  movedAside_.clear();
  problem_.clear();
  std::string native = nativePath(path);
  // A link's target gets the journals and the moved-aside copy beside it.
  std::error_code error;
  if (std::filesystem::is_symlink(native, error)) {
    const std::filesystem::path target = std::filesystem::canonical(native, error);
    if (!error)
      native = target.string();
  }
  const std::filesystem::path folder = std::filesystem::path(native).parent_path();
  if (!folder.empty())
    std::filesystem::create_directories(folder, error);

  // Set problem_ and *problem, return `usable`.
  const auto report = [&](bool usable, std::string message) {
    problem_ = std::move(message);
    if (problem != nullptr)
      *problem = problem_;
    return usable;
  };
  std::string notice;
  for (int attempt = 0; attempt < 3; ++attempt) {
    struct stat before {};
    const bool existed = stat(native.c_str(), &before) == 0;
    std::string why;
    const Opening opening = openOnce(native, &why);
    if (opening == Opening::kOpened)
      return report(true, notice);
    if (opening == Opening::kFailed) {
      return report(false, notice.empty() ? "cannot use the history " + native + ": " + why
                                          : notice + ", which cannot be used either: " + why);
    }
    // Another program found the same damage and already put a fresh file in
    // its place: open that one.
    struct stat now {};
    if (existed && stat(native.c_str(), &now) == 0 &&
        (now.st_ino != before.st_ino || now.st_dev != before.st_dev))
      continue;
    std::string aside;
    std::string moveProblem;
    if (!moveAside(native, &aside, &moveProblem)) {
      return report(false, "the history " + native + " is damaged (" + why +
                               ") and could not be moved aside: " + moveProblem);
    }
    movedAside_ = utf8ToGbk(aside);
    notice = "the history " + native + " was damaged (" + why + "); it was moved to " + aside +
             " and a fresh history was started";
  }
  return report(false, "the history " + native + " is damaged again each time it is made afresh");
}

}  // namespace qarvo
