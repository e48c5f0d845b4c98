#pragma once

#include <filesystem>
#include <vector>

#include "foundation/Dates.h"
#include "signals/HistoryRecord.h"

// Reads Safari's history database ("History.db": tables history_items and history_visits, visit
// times in seconds since 2001-01-01 UTC). Safari's cookies are not read.
namespace linkferry::SafariReader {

// Each item whose latest visit is after `since`, with that visit and the item's visit count. An
// absent file gives an empty list; every other failure throws SQLiteError. Without Full Disk
// Access on macOS the file cannot be opened, which surfaces as such an error.
std::vector<HistoryRecord> history(const std::filesystem::path& historyDB, Date since);

// "Library/Safari/History.db" under the home folder of the current user's account record (the
// real home even inside an application sandbox), or under $HOME when there is no record.
std::filesystem::path defaultHistoryDB();

}  // namespace linkferry::SafariReader
