#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The environment a launched browser or app gets on Linux.
namespace linkferry::LaunchEnvironment {

using Environment = std::map<std::string, std::string>;

// Variables that describe only the program the link was clicked in (its desktop entry, its
// launcher). Passed on, they make the browser claim that program's identity: the desktop groups
// its windows under the wrong app, or the browser reopens as that app.
const std::vector<std::string_view>& clickerVariables();

// Variables that hand keyboard focus to the launched program (the Wayland activation token and the
// X11 startup notification identifier).
const std::vector<std::string_view>& focusVariables();

// Variables that name the display the link was clicked on. A long-lived router may have been
// started outside the graphical session (by the service manager), or in another one.
const std::vector<std::string_view>& displayVariables();

// `base` without the clicker variables. The focus and display variables are passed on: those of
// `click` (the environment the link arrived with, when routing happens in another process than
// the click's) replace those of `base`; without `click`, those of `base` stay. Pure.
Environment forChild(Environment base, const std::optional<Environment>& click = std::nullopt);

}  // namespace linkferry::LaunchEnvironment
