// A thin owner of an SQLite connection and its prepared statements.
//
// SQLite's C interface reports every failure as a result code, which suits a
// program without exceptions; these classes only make sure each handle is
// closed or finalized exactly once and keep the calls short. GBK texts are
// bound as blobs, so their bytes come back exactly as they went in (SQLite
// would take a TEXT value for UTF-8). Neither class may be used by two
// threads at once; two connections to one file are fine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace qarvo {

class SqliteStatement {
 public:
  enum class Step { kRow, kDone, kError };

  SqliteStatement() = default;
  ~SqliteStatement();
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // False when the statement could not be prepared.
  bool ok() const { return statement_ != nullptr; }

  // Binds parameter `index` (1-based). False on failure.
  bool bindInteger(int index, std::int64_t value);
  bool bindBytes(int index, std::string_view bytes);  // a blob
  bool bindText(int index, std::string_view utf8);    // a UTF-8 text

  // One step: a row to read, the end, or a failure (the connection's
  // errorMessage() says why).
  Step step();
  // Makes the statement ready to step again from the start, bindings kept.
  void reset();

  // Column `column` (0-based) of the current row.
  std::int64_t integer(int column) const;
  std::string bytes(int column) const;  // a blob or a text, byte for byte

 private:
  friend class SqliteConnection;
  explicit SqliteStatement(sqlite3_stmt* statement) : statement_(statement) {}
  sqlite3_stmt* statement_ = nullptr;
};

class SqliteConnection {
 public:
  SqliteConnection() = default;
  ~SqliteConnection() { close(); }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // Opens (creating when missing) the database file with the UTF-8 name.
  // False on failure; errorMessage() says why.
  bool open(const std::string& utf8Path);
  // Closes the connection; statements must be gone first.
  void close();
  bool isOpen() const { return db_ != nullptr; }

  // Waits up to `ms` for another connection's lock before failing busy,
  // processing pending events while it waits.
  void setBusyTimeout(int ms);

  // Runs one or more statements that return no rows. False on failure.
  bool execute(const char* sql);
  // A prepared statement; not ok() on failure.
  SqliteStatement prepare(std::string_view sql);
  // The integer of the first column of the first row of `sql` (a pragma, a
  // count). False on failure or without a row.
  bool queryInteger(const char* sql, std::int64_t* value);

  std::int64_t lastInsertId() const;
  // The last failure: SQLite's extended result code and English message.
  int errorCode() const;
  std::string errorMessage() const;
  // True when the last failure says the file is no database or a damaged one.
  bool lastErrorIsDamage() const;

 private:
  sqlite3* db_ = nullptr;
  int busyTimeoutMs_ = 0;
};

}  // namespace qarvo
