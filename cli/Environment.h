#pragma once

#include <map>
#include <string>

#include "browsers/BrowserCatalog.h"

namespace linkferry::cli {

// The browsers of this machine: desktop entries of the XDG folders merged with browsers.json of
// the data folder. An unreadable or malformed browsers.json is the user's to fix: it throws
// InputError or JsonError naming the file.
BrowserCatalog machineCatalog();

}  // namespace linkferry::cli
