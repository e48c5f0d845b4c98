#include "signals/ChromiumReader.h"

#include <cstdint>
#include <optional>
#include <string>

#include "signals/SQLiteSnapshot.h"

namespace linkferry::ChromiumReader {
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kSeconds1601To1970 = 11644473600;
constexpr std::int64_t kMicroseconds1601To1970 = kSeconds1601To1970 * 1000000;

// The 1601 offset is taken off in integers first: seventeen-digit values do not fit a double's
// mantissa, and subtracting afterwards would lose their last microseconds.
Date dateFrom1601Microseconds(std::int64_t value) {
  return Date{static_cast<double>(value - kMicroseconds1601To1970) / 1e6};
}

std::optional<Date> optionalDate(std::int64_t value) {
  if (value < 1) return std::nullopt;
  return dateFrom1601Microseconds(value);
}

}  // namespace

std::vector<HistoryRecord> history(const fs::path& profileDir, Date since) {
  const fs::path file = profileDir / "History";
  if (!SQLiteSnapshot::exists(file)) return {};
  auto cutoff = static_cast<std::int64_t>((since.secondsSince1970 + kSeconds1601To1970) * 1e6);
  std::string sql = "SELECT url, last_visit_time, visit_count FROM urls WHERE last_visit_time > " +
                    std::to_string(cutoff);
  std::vector<HistoryRecord> records;
  SQLiteSnapshot::read(
      file, sql, [&] { records.clear(); },
      [&](const SQLiteRow& row) {
        std::int64_t lastVisit = row.integer(1);
        if (lastVisit < 1) return;
        records.push_back({row.text(0), dateFrom1601Microseconds(lastVisit), row.integer(2)});
      });
  return records;
}

std::vector<CookieRecord> cookies(const fs::path& profileDir) {
  fs::path file = profileDir / "Cookies";
  if (!SQLiteSnapshot::exists(file)) {
    file = profileDir / "Network" / "Cookies";
    if (!SQLiteSnapshot::exists(file)) return {};
  }
  std::vector<CookieRecord> records;
  SQLiteSnapshot::read(
      file, "SELECT host_key, name, expires_utc, last_access_utc, is_persistent FROM cookies",
      [&] { records.clear(); },
      [&](const SQLiteRow& row) {
        records.push_back({CookieRecord::normalizedHost(row.text(0)), row.text(1), optionalDate(row.integer(2)),
                           optionalDate(row.integer(3)), row.integer(4) != 0, std::nullopt});
      });
  return records;
}

}  // namespace linkferry::ChromiumReader
