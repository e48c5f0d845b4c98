#pragma once

#include <optional>
#include <string_view>

namespace linkferry {

// How strongly a browser target appears to be signed in to a site. Ordered by raw value, so
// `std::max` of two levels is the stronger one.
enum class SessionLevel : int { none = 0, weak = 1, strong = 2 };

// "none", "weak" or "strong".
std::string_view toString(SessionLevel level) noexcept;
// The level with this raw value (0, 1, 2); nothing for any other number.
std::optional<SessionLevel> sessionLevelFromRawValue(int rawValue) noexcept;

}  // namespace linkferry
