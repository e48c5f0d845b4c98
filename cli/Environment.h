#pragma once

#include <map>
#include <string>
#include <string_view>

#include "browsers/BrowserCatalog.h"

namespace linkferry::cli {

// The browsers of this machine: desktop entries of the XDG folders merged with browsers.json of
// the data folder. An unreadable or malformed browsers.json is the user's to fix: it throws
// InputError or JsonError naming the file.
BrowserCatalog machineCatalog();

// Whether a text holds a character of the Unicode White_Space property anywhere. No link does:
// a pasted text with one is a link with something else beside it (or a broken line).
bool holdsWhiteSpace(std::string_view text);

}  // namespace linkferry::cli
