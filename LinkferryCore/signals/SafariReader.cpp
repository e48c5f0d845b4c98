#include "signals/SafariReader.h"

#include <pwd.h>
#include <unistd.h>

#include <string>

#include "foundation/Files.h"
#include "foundation/Text.h"
#include "signals/SQLiteSnapshot.h"

namespace linkferry::SafariReader {
namespace fs = std::filesystem;

namespace {

fs::path accountHome() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384, '\0');
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return Files::home();
}

}  // namespace

std::vector<HistoryRecord> history(const fs::path& historyDB, Date since) {
  if (!SQLiteSnapshot::exists(historyDB)) return {};
  // The shortest text that reads back as the same double, so the cut-off loses no precision.
  std::string sql =
      "SELECT i.url, MAX(v.visit_time), i.visit_count\n"
      "FROM history_items i JOIN history_visits v ON v.history_item = i.id\n"
      "GROUP BY i.id HAVING MAX(v.visit_time) > " +
      Text::formatDouble(since.secondsSinceReferenceDate());
  std::vector<HistoryRecord> records;
  SQLiteSnapshot::read(
      historyDB, sql, [&] { records.clear(); },
      [&](const SQLiteRow& row) {
        records.push_back(
            {row.text(0), Date::fromSecondsSinceReferenceDate(row.real(1)), row.integer(2)});
      });
  return records;
}

fs::path defaultHistoryDB() {
  return accountHome() / "Library" / "Safari" / "History.db";
}

}  // namespace linkferry::SafariReader
