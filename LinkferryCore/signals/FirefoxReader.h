#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Dates.h"
#include "signals/CookieRecord.h"
#include "signals/HistoryRecord.h"

// Reads the history ("places.sqlite") and cookie jar ("cookies.sqlite") of a Firefox-family
// profile folder. Visit and access times are microseconds since 1970; cookie expiries are seconds,
// or milliseconds when the value exceeds 100 000 000 000. A database file that does not exist
// gives an empty list; every other failure throws SQLiteError (file-system errors while copying
// a live database: std::filesystem::filesystem_error).
namespace linkferry::FirefoxReader {

// The places last visited after `since`; rows without a last visit (bookmarks) are skipped.
std::vector<HistoryRecord> history(const std::filesystem::path& profileDir, Date since);

// Every stored cookie. Firefox writes only persistent cookies, so each is persistent; a cookie
// kept in a container carries the container's id.
std::vector<CookieRecord> cookies(const std::filesystem::path& profileDir);

// The container id of a cookie's origin attributes: "^userContextId=2&privateBrowsingId=0" gives
// "2"; "^userContextId=0", attributes without the id, and text without the leading "^" give none.
std::optional<std::string> containerID(std::string_view originAttributes);

}  // namespace linkferry::FirefoxReader
