#include "signals/FirefoxReader.h"

#include <cstdint>

#include "foundation/Text.h"
#include "signals/SQLiteSnapshot.h"

namespace linkferry::FirefoxReader {
namespace fs = std::filesystem;

namespace {

// Firefox has written cookie expiries in seconds and, more recently, in milliseconds; a value
// this large is no plausible number of seconds.
constexpr std::int64_t kMillisecondExpiryThreshold = 100000000000;

Date dateFromMicroseconds(std::int64_t value) {
  return Date{static_cast<double>(value) / 1e6};
}

std::optional<Date> optionalMicroseconds(std::int64_t value) {
  if (value < 1) return std::nullopt;
  return dateFromMicroseconds(value);
}

std::optional<Date> expiry(std::int64_t value) {
  if (value < 1) return std::nullopt;
  if (value > kMillisecondExpiryThreshold) return Date{static_cast<double>(value) / 1000.0};
  return Date{static_cast<double>(value)};
}

}  // namespace

std::optional<std::string> containerID(std::string_view originAttributes) {
  if (!Text::startsWith(originAttributes, "^")) return std::nullopt;
  for (std::string_view piece : Text::split(originAttributes.substr(1), '&')) {
    if (piece.empty()) continue;
    auto equals = piece.find('=');
    std::string_view key = piece.substr(0, equals);
    if (key != "userContextId" || equals == std::string_view::npos) continue;
    std::string_view value = piece.substr(equals + 1);
    if (value.empty() || value == "0") continue;
    return std::string(value);
  }
  return std::nullopt;
}

std::vector<HistoryRecord> history(const fs::path& profileDir, Date since) {
  const fs::path file = profileDir / "places.sqlite";
  if (!SQLiteSnapshot::exists(file)) return {};
  auto cutoff = static_cast<std::int64_t>(since.secondsSince1970 * 1e6);
  std::string sql =
      "SELECT url, last_visit_date, visit_count FROM moz_places WHERE last_visit_date > " +
      std::to_string(cutoff);
  std::vector<HistoryRecord> records;
  SQLiteSnapshot::read(
      file, sql, [&] { records.clear(); },
      [&](const SQLiteRow& row) {
        std::int64_t lastVisit = row.integer(1);
        if (lastVisit < 1) return;
        records.push_back({row.text(0), dateFromMicroseconds(lastVisit), row.integer(2)});
      });
  return records;
}

std::vector<CookieRecord> cookies(const fs::path& profileDir) {
  const fs::path file = profileDir / "cookies.sqlite";
  if (!SQLiteSnapshot::exists(file)) return {};
  std::vector<CookieRecord> records;
  SQLiteSnapshot::read(
      file, "SELECT host, name, expiry, lastAccessed, originAttributes FROM moz_cookies",
      [&] { records.clear(); },
      [&](const SQLiteRow& row) {
        records.push_back({CookieRecord::normalizedHost(row.text(0)), row.text(1), expiry(row.integer(2)),
                           optionalMicroseconds(row.integer(3)), true, containerID(row.text(4))});
      });
  return records;
}

}  // namespace linkferry::FirefoxReader
