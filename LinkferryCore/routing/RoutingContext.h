#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "foundation/Dates.h"

namespace linkferry {

// The state of the machine when a link is routed. The core only reads it; how the application
// learns these values (frontmost app, networks, lock state) is its own business. A plain value,
// safe to copy to and read from any thread.
struct RoutingContext {
  // Browser identifier (as in `BrowserTarget::browser`) of the frontmost application, if a browser.
  std::optional<std::string> frontmostBrowser;
  // The profile (as in `BrowserTarget::profile`) the frontmost browser's window shows, when it can
  // be told. Nothing until the caller sets it.
  std::optional<std::string> frontmostProfile = std::nullopt;
  // Browser identifier of the browser that was active most recently.
  std::optional<std::string> lastUsedBrowser;
  // Names of the networks the machine is connected to; the `network` matcher compares exactly.
  std::set<std::string> activeNetworks;
  // The time the decision is made for: rule expiry, time windows and history ages use it.
  Date now;
  // The user's calendar and time zone, for the weekday, hour and minute of time windows.
  Calendar calendar;
  // Identifiers of installed desktop apps, for the app-link stage. Empty until the caller sets it.
  std::set<std::string> installedApps;
  // The screen is locked. False until the caller sets it.
  bool screenLocked = false;

  RoutingContext(std::optional<std::string> frontmostBrowser,
                 std::optional<std::string> lastUsedBrowser, std::set<std::string> activeNetworks,
                 Date now, Calendar calendar)
      : frontmostBrowser(std::move(frontmostBrowser)),
        lastUsedBrowser(std::move(lastUsedBrowser)),
        activeNetworks(std::move(activeNetworks)),
        now(now),
        calendar(std::move(calendar)) {}

  // Calendars are equal when they are in the same time zone (all of ours are Gregorian).
  bool operator==(const RoutingContext& other) const {
    return frontmostBrowser == other.frontmostBrowser &&
           frontmostProfile == other.frontmostProfile && lastUsedBrowser == other.lastUsedBrowser &&
           activeNetworks == other.activeNetworks && now == other.now &&
           calendar.timeZoneIdentifier() == other.calendar.timeZoneIdentifier() &&
           installedApps == other.installedApps && screenLocked == other.screenLocked;
  }
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::RoutingContext> {
  std::size_t operator()(const linkferry::RoutingContext& context) const noexcept {
    std::size_t hash = 0x6c66;
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    std::hash<std::string> text;
    mix(context.frontmostBrowser ? text(*context.frontmostBrowser) : 0x51);
    mix(context.frontmostProfile ? text(*context.frontmostProfile) : 0x53);
    mix(context.lastUsedBrowser ? text(*context.lastUsedBrowser) : 0x52);
    for (const auto& network : context.activeNetworks) mix(text(network));
    mix(std::hash<double>()(context.now.secondsSince1970));
    mix(text(context.calendar.timeZoneIdentifier()));
    for (const auto& app : context.installedApps) mix(text(app));
    mix(context.screenLocked ? 1 : 2);
    return hash;
  }
};
