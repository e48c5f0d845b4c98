#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace linkferry {

// The columns of the current result row of a statement, read by position. Valid only inside the
// row callback that received it.
class SQLiteRow {
 public:
  explicit SQLiteRow(sqlite3_stmt* statement) : m_statement(statement) {}

  bool isNull(int column) const;
  std::string text(int column) const;      // empty for null
  std::int64_t integer(int column) const;  // 0 for null
  double real(int column) const;           // 0 for null

 private:
  sqlite3_stmt* m_statement;
};

// A read-only view of a SQLite database that belongs to a running browser, opened so that the
// browser's files are never written, locked or otherwise disturbed.
//
// - Without a non-empty write-ahead log or rollback journal beside it, the file is opened in
//   place as an immutable read-only URI ("?mode=ro&immutable=1"), which takes no locks and so
//   works even while the browser holds an exclusive lock.
// - With a non-empty "-wal", the database is copied with its "-wal" and "-shm" into a private
//   folder "linkferry-<UUID>" under the temporary folder, and the copy is opened read-write so
//   SQLite replays the log into the copy.
// - With a non-empty hot "-journal" (a transaction of a rollback-journal database still open, as
//   Chromium keeps History while it runs), the database is copied with its journal the same way
//   and SQLite rolls the unfinished transaction back in the copy. An immutable read in place
//   would see the half-written pages.
// A copy is taken again (a few times at most) when the size or modification time of the database
// or its sidecar changed while copying, so a checkpoint or commit between the copies of the two
// files never pairs an old database with a newer log.
//
// One snapshot serves one reader at a time; it is never shared between threads.
class SQLiteSnapshot {
 public:
  // Throws SQLiteError "missing <path>" when no file is there, "<path>: <SQLite's message>" when
  // opening fails, and "<path>: <reason>" when the file's presence cannot be checked (a folder
  // without permission). File-system errors while copying are passed on as
  // std::filesystem::filesystem_error.
  explicit SQLiteSnapshot(const std::filesystem::path& path);
  ~SQLiteSnapshot();
  SQLiteSnapshot(const SQLiteSnapshot&) = delete;
  SQLiteSnapshot& operator=(const SQLiteSnapshot&) = delete;

  // The open connection; null once closed.
  sqlite3* db() const { return m_db; }
  // The private folder of the copy, when one was made; removed by `close`.
  const std::optional<std::filesystem::path>& copyDir() const { return m_copyDir; }

  // Prepares `sql`, steps it to the end calling `row` for each result row, and finalizes it.
  // Throws SQLiteError with SQLite's message when preparing or stepping fails, and when the
  // snapshot is closed.
  void forEachRow(std::string_view sql, const std::function<void(const SQLiteRow&)>& row) const;

  // True when this snapshot reads the live file in place and that file (or its journal or log)
  // changed since it was opened: what was read may mix two states of the database.
  bool liveFilesChanged() const;

  // Closes the connection and removes the copy folder (errors ignored). Safe to call twice.
  void close() noexcept;

  // Whether a database file is there: false when it (or a folder on its path) does not exist;
  // throws SQLiteError "<path>: <reason>" when that cannot be told (no permission on a folder).
  static bool exists(const std::filesystem::path& path);

  // Reads `sql` from a snapshot of `path`: calls `begin`, then `row` for each row, and closes the
  // snapshot. When the file was read in place and changed during the read (the browser committed
  // meanwhile), the rows are read again from a fresh snapshot, `begin` being called first each
  // time, so the caller can drop what it collected. Throws as the constructor and `forEachRow`.
  static void read(const std::filesystem::path& path, std::string_view sql,
                   const std::function<void()>& begin,
                   const std::function<void(const SQLiteRow&)>& row);

  // Size and modification time of a file; `present` false when it cannot be read.
  struct Stamp {
    bool present = false;
    std::uintmax_t size = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const Stamp&) const = default;
  };

 private:
  void copyAndOpen(const std::filesystem::path& path, bool writeAheadLog);
  void open(const std::filesystem::path& path, const std::string& name, int flags);

  sqlite3* m_db = nullptr;
  std::optional<std::filesystem::path> m_copyDir;
  std::filesystem::path m_path;
  // The live files read in place and their stamps at opening; empty for a copy.
  std::vector<std::pair<std::filesystem::path, Stamp>> m_liveStamps;
};

}  // namespace linkferry
