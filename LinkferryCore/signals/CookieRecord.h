#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Dates.h"
#include "foundation/Text.h"

namespace linkferry {

// One cookie of a browser's cookie jar, reduced to what session detection needs (never its value).
struct CookieRecord {
  std::string host;                      // lowercased, one leading "." removed
  std::string name;                      // empty when null
  std::optional<Date> expires;           // none for a session cookie or an unset value
  std::optional<Date> lastAccess;        // none when unset
  bool persistent = false;               // outlives the browser session
  std::optional<std::string> container;  // Firefox user context id; none outside containers

  bool operator==(const CookieRecord&) const = default;

  // A cookie's host as browsers store it (".Example.com") in the form of `host`.
  static std::string normalizedHost(std::string_view stored) {
    std::string lowered = Text::lowercased(stored);
    if (!lowered.empty() && lowered.front() == '.') lowered.erase(0, 1);
    return lowered;
  }
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::CookieRecord> {
  std::size_t operator()(const linkferry::CookieRecord& cookie) const noexcept {
    std::size_t hash = std::hash<std::string>()(cookie.host);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(std::hash<std::string>()(cookie.name));
    mix(cookie.expires ? std::hash<double>()(cookie.expires->secondsSince1970) : 0x51);
    mix(cookie.lastAccess ? std::hash<double>()(cookie.lastAccess->secondsSince1970) : 0x52);
    mix(cookie.persistent ? 1 : 2);
    mix(cookie.container ? std::hash<std::string>()(*cookie.container) : 0x53);
    return hash;
  }
};
