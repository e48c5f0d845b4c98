#pragma once

#include <map>
#include <string>

namespace linkferry::cli {

// Every variable of this process. Browser discovery reads XDG_DATA_HOME, XDG_DATA_DIRS and PATH
// besides the variables that choose the data folder.
std::map<std::string, std::string> processEnvironment();

}  // namespace linkferry::cli
