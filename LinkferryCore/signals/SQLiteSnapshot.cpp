#include "signals/SQLiteSnapshot.h"

#include <array>
#include <chrono>
#include <system_error>
#include <thread>

#include <sqlite3.h>

#include "foundation/Uuid.h"
#include "signals/SQLiteError.h"

namespace linkferry {
namespace fs = std::filesystem;

namespace {

// How often a copy, or a read in place, is tried again when the live files changed meanwhile.
constexpr int kCopyAttempts = 5;
constexpr int kReadAttempts = 3;

// Modification times on file systems with coarse time stamps advance only once per clock tick, so
// a write in the same tick as the one before would leave the time unchanged. A file written in
// the last few milliseconds is given that long to settle before it is stamped.
constexpr auto kSettleTime = std::chrono::milliseconds(10);
constexpr int kSettleWaits = 3;

SQLiteSnapshot::Stamp stampOf(const fs::path& path) {
  std::error_code error;
  SQLiteSnapshot::Stamp stamp;
  auto size = fs::file_size(path, error);
  if (error) return stamp;
  auto modified = fs::last_write_time(path, error);
  if (error) return stamp;
  stamp.present = true;
  stamp.size = size;
  stamp.modifiedNanoseconds =
      std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
  return stamp;
}

fs::path withSuffix(const fs::path& path, std::string_view suffix) {
  fs::path result = path;
  result += suffix;
  return result;
}

std::vector<SQLiteSnapshot::Stamp> stampsOf(const std::vector<fs::path>& paths) {
  std::vector<SQLiteSnapshot::Stamp> stamps;
  stamps.reserve(paths.size());
  for (const fs::path& path : paths) stamps.push_back(stampOf(path));
  return stamps;
}

// Waits (briefly, a bounded number of times) while one of the files was modified within the last
// settle interval, then returns their stamps.
std::vector<SQLiteSnapshot::Stamp> settledStamps(const std::vector<fs::path>& paths) {
  for (int wait = 0;; ++wait) {
    auto stamps = stampsOf(paths);
    if (wait == kSettleWaits) return stamps;
    auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                   fs::file_time_type::clock::now().time_since_epoch())
                   .count();
    bool fresh = false;
    for (const auto& stamp : stamps) {
      if (stamp.present &&
          now - stamp.modifiedNanoseconds < std::chrono::nanoseconds(kSettleTime).count()) {
        fresh = true;
      }
    }
    if (!fresh) return stamps;
    std::this_thread::sleep_for(kSettleTime);
  }
}

// SQLite URI filenames take a path with "%HH" escapes; everything but unreserved characters and
// "/" is escaped so that "?", "#" and "%" in folder names keep their meaning as path characters.
std::string uriPath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(path.size());
  for (unsigned char c : path) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      result.push_back(static_cast<char>(c));
    } else {
      result.push_back('%');
      result.push_back(kHex[c >> 4]);
      result.push_back(kHex[c & 0xF]);
    }
  }
  return result;
}

}  // namespace

bool SQLiteRow::isNull(int column) const {
  return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

std::string SQLiteRow::text(int column) const {
  const unsigned char* text = sqlite3_column_text(m_statement, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)));
}

std::int64_t SQLiteRow::integer(int column) const {
  return sqlite3_column_int64(m_statement, column);
}

double SQLiteRow::real(int column) const {
  return sqlite3_column_double(m_statement, column);
}

bool SQLiteSnapshot::exists(const fs::path& path) {
  std::error_code error;
  fs::file_status status = fs::status(path, error);
  if (!error) return status.type() != fs::file_type::not_found;
  if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
    return false;
  }
  throw SQLiteError(path.string() + ": " + error.message());
}

SQLiteSnapshot::SQLiteSnapshot(const fs::path& path) : m_path(path) {
  if (!exists(path)) throw SQLiteError("missing " + path.string());

  const std::vector<fs::path> live = {path, withSuffix(path, "-wal"), withSuffix(path, "-journal")};
  auto stamps = stampsOf(live);
  // A stamp that cannot be read counts as an empty sidecar: the database is read in place.
  if (stamps[1].present && stamps[1].size > 0) {
    copyAndOpen(path, true);
    return;
  }
  if (stamps[2].present && stamps[2].size > 0) {
    copyAndOpen(path, false);
    return;
  }
  for (std::size_t i = 0; i < live.size(); ++i) m_liveStamps.emplace_back(live[i], stamps[i]);
  std::string uri = "file://" + uriPath(fs::absolute(path).string()) + "?mode=ro&immutable=1";
  open(path, uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
}

void SQLiteSnapshot::copyAndOpen(const fs::path& path, bool writeAheadLog) {
  const std::vector<std::string_view> suffixes = writeAheadLog
                                                     ? std::vector<std::string_view>{"-wal", "-shm"}
                                                     : std::vector<std::string_view>{"-journal"};
  // The files whose agreement makes the copy consistent: the database and its log or journal.
  const std::vector<fs::path> watched = {path, withSuffix(path, suffixes.front())};

  m_copyDir = fs::temp_directory_path() / ("linkferry-" + Uuid::random().string());
  try {
    fs::create_directories(*m_copyDir);
    const fs::path copy = *m_copyDir / path.filename();
    bool consistent = false;
    for (int attempt = 0; attempt < kCopyAttempts && !consistent; ++attempt) {
      auto before = settledStamps(watched);
      fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
      bool vanished = false;
      for (std::string_view suffix : suffixes) {
        fs::path source = withSuffix(path, suffix);
        fs::path target = withSuffix(copy, suffix);
        std::error_code error;
        fs::copy_file(source, target, fs::copy_options::overwrite_existing, error);
        if (!error) continue;
        if (error != std::errc::no_such_file_or_directory) {
          throw fs::filesystem_error("cannot copy", source, target, error);
        }
        // A sidecar that is gone (or never was) must not survive from an earlier attempt.
        fs::remove(target, error);
        if (suffix == suffixes.front()) vanished = true;
      }
      consistent = !vanished && before == stampsOf(watched);
    }
    if (!consistent) {
      throw SQLiteError(path.string() + ": the database kept changing while it was copied");
    }
    open(path, copy.string(), SQLITE_OPEN_READWRITE);
  } catch (...) {
    close();
    throw;
  }
}

void SQLiteSnapshot::open(const fs::path& path, const std::string& name, int flags) {
  int code = sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr);
  if (code == SQLITE_OK) return;
  std::string message = m_db != nullptr ? std::string(sqlite3_errmsg(m_db))
                                        : "open failed (" + std::to_string(code) + ")";
  close();
  throw SQLiteError(path.string() + ": " + message);
}

SQLiteSnapshot::~SQLiteSnapshot() {
  close();
}

void SQLiteSnapshot::close() noexcept {
  if (m_db != nullptr) {
    sqlite3_close(m_db);
    m_db = nullptr;
  }
  if (m_copyDir) {
    std::error_code ignored;
    fs::remove_all(*m_copyDir, ignored);
    m_copyDir.reset();
  }
}

void SQLiteSnapshot::forEachRow(std::string_view sql,
                                const std::function<void(const SQLiteRow&)>& row) const {
  if (m_db == nullptr) throw SQLiteError(m_path.string() + ": the database is closed");
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(m_db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) !=
      SQLITE_OK) {
    std::string message = sqlite3_errmsg(m_db);
    sqlite3_finalize(statement);
    throw SQLiteError(message);
  }
  try {
    SQLiteRow current(statement);
    int code;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW) row(current);
    if (code != SQLITE_DONE) throw SQLiteError(sqlite3_errmsg(m_db));
  } catch (...) {
    sqlite3_finalize(statement);
    throw;
  }
  sqlite3_finalize(statement);
}

bool SQLiteSnapshot::liveFilesChanged() const {
  for (const auto& [path, stamp] : m_liveStamps) {
    if (stampOf(path) != stamp) return true;
  }
  return false;
}

void SQLiteSnapshot::read(const fs::path& path, std::string_view sql,
                          const std::function<void()>& begin,
                          const std::function<void(const SQLiteRow&)>& row) {
  for (int attempt = 1;; ++attempt) {
    SQLiteSnapshot snapshot(path);
    begin();
    try {
      snapshot.forEachRow(sql, row);
    } catch (const SQLiteError&) {
      // A read in place may fail half-way because the browser rewrote pages under it.
      if (attempt < kReadAttempts && snapshot.liveFilesChanged()) continue;
      throw;
    }
    if (!snapshot.liveFilesChanged()) return;
    if (attempt == kReadAttempts) {
      throw SQLiteError(path.string() + ": the database kept changing while it was read");
    }
  }
}

}  // namespace linkferry
