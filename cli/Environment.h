#pragma once

#include <map>
#include <string>

#include "browsers/BrowserCatalog.h"

namespace linkferry::cli {

// Every variable of this process. Browser discovery reads XDG_DATA_HOME, XDG_DATA_DIRS and PATH
// besides the variables that choose the data folder.
std::map<std::string, std::string> processEnvironment();

// The browsers of this machine: desktop entries of the XDG folders merged with browsers.json of
// the data folder. An unreadable or malformed browsers.json is the user's to fix: it throws
// InputError or JsonError naming the file.
BrowserCatalog machineCatalog();

}  // namespace linkferry::cli
