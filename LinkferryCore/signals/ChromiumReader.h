#pragma once

#include <filesystem>
#include <vector>

#include "foundation/Dates.h"
#include "signals/CookieRecord.h"
#include "signals/HistoryRecord.h"

// Reads the history ("History") and cookie jar ("Cookies", or "Network/Cookies" when the first is
// absent) of a Chromium-family profile folder. Times there are microseconds since 1601-01-01 UTC.
// A database file that does not exist gives an empty list; every other failure throws SQLiteError
// (file-system errors while copying a live database: std::filesystem::filesystem_error).
namespace linkferry::ChromiumReader {

// The URLs last visited after `since`; rows without a last visit are skipped.
std::vector<HistoryRecord> history(const std::filesystem::path& profileDir, Date since);

// Every cookie: host lowercased without its leading dot, no container.
std::vector<CookieRecord> cookies(const std::filesystem::path& profileDir);

}  // namespace linkferry::ChromiumReader
