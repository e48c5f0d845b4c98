#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "routing/RoutingContext.h"

namespace linkferry::LinuxContext {

// The routing context of a link clicked now on this Linux machine: the current time and the
// user's calendar, and the desktop apps that declare a handler for an app link's scheme (from the
// desktop entries found through `environment`). What this machine cannot tell (frontmost and last
// used browser, networks, the lock state) is left absent, never guessed. Never fails.
RoutingContext current(const std::filesystem::path& home,
                       const std::map<std::string, std::string>& environment);

}  // namespace linkferry::LinuxContext
