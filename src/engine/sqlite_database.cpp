#include "engine/sqlite_database.h"

#include "platform/event_pump.h"

#include <sqlite3.h>

#include <utility>

namespace qarvo {

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(statement_);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(statement_);
    statement_ = std::exchange(other.statement_, nullptr);
  }
  return *this;
}

bool SqliteStatement::bindInteger(int index, std::int64_t value) {
  return ok() && sqlite3_bind_int64(statement_, index, value) == SQLITE_OK;
}

bool SqliteStatement::bindBytes(int index, std::string_view bytes) {
  // An empty blob still binds as a zero-length blob, never as NULL.
  return ok() && sqlite3_bind_blob64(statement_, index, bytes.empty() ? "" : bytes.data(),
                                     bytes.size(), SQLITE_TRANSIENT) == SQLITE_OK;
}

bool SqliteStatement::bindText(int index, std::string_view utf8) {
  return ok() && sqlite3_bind_text64(statement_, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT,
                                     SQLITE_UTF8) == SQLITE_OK;
}

SqliteStatement::Step SqliteStatement::step() {
  if (!ok())
    return Step::kError;
  switch (sqlite3_step(statement_)) {
    case SQLITE_ROW:
      return Step::kRow;
    case SQLITE_DONE:
      return Step::kDone;
    default:
      return Step::kError;
  }
}

void SqliteStatement::reset() {
  if (ok())
    sqlite3_reset(statement_);
}

std::int64_t SqliteStatement::integer(int column) const {
  return sqlite3_column_int64(statement_, column);
}

std::string SqliteStatement::bytes(int column) const {
  const void* data = sqlite3_column_blob(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  if (data == nullptr || size <= 0)
    return std::string();
  return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

bool SqliteConnection::open(const std::string& utf8Path) {
  close();
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  // A handle comes back even on failure, to carry the message.
  const int rc = sqlite3_open_v2(utf8Path.c_str(), &db_, flags, nullptr);
  if (db_ != nullptr)
    sqlite3_extended_result_codes(db_, 1);
  return rc == SQLITE_OK;
}

void SqliteConnection::close() {
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

void SqliteConnection::setBusyTimeout(int ms) {
  busyTimeoutMs_ = ms;
  // Waits in short naps, letting the window's events through between them:
  // a history another program keeps locked must not freeze the window.
  sqlite3_busy_handler(
      db_,
      [](void* self, int tries) -> int {
        constexpr int kNapMs = 5;
        if (tries * kNapMs >= static_cast<SqliteConnection*>(self)->busyTimeoutMs_)
          return 0;
        sleepMilliseconds(kNapMs);
        processPendingEvents();
        return 1;
      },
      this);
}

bool SqliteConnection::execute(const char* sql) {
  return db_ != nullptr && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

SqliteStatement SqliteConnection::prepare(std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  if (db_ == nullptr || sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()),
                                           &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return SqliteStatement();
  }
  return SqliteStatement(statement);
}

bool SqliteConnection::queryInteger(const char* sql, std::int64_t* value) {
  SqliteStatement statement = prepare(sql);
  if (statement.step() != SqliteStatement::Step::kRow)
    return false;
  *value = statement.integer(0);
  return true;
}

std::int64_t SqliteConnection::lastInsertId() const {
  return sqlite3_last_insert_rowid(db_);
}

int SqliteConnection::errorCode() const {
  return db_ != nullptr ? sqlite3_extended_errcode(db_) : SQLITE_CANTOPEN;
}

std::string SqliteConnection::errorMessage() const {
  return db_ != nullptr ? sqlite3_errmsg(db_) : "no connection";
}

bool SqliteConnection::lastErrorIsDamage() const {
  const int primary = errorCode() & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

}  // namespace qarvo
