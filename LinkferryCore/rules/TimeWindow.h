#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Dates.h"
#include "foundation/Json.h"

namespace linkferry {

// A daily stretch of wall-clock time, optionally limited to some weekdays. `end` earlier than
// `start` makes a window that runs over midnight; the part after midnight belongs to the day on
// which the window started. Nothing is checked when a window is built or loaded: a malformed
// window simply never contains any time, and the rule validation reports it.
struct TimeWindow {
  // 1 = Monday ... 7 = Sunday; absent means every day. Kept as written, out-of-range numbers too.
  std::optional<std::vector<std::int64_t>> days = std::nullopt;
  std::string start = {};  // "HH:mm", inclusive
  std::string end = {};    // "HH:mm", exclusive

  // Minutes after midnight of an "HH:mm" text: the text is split at every ":" with empty pieces
  // dropped ("9::30" is 9:30), exactly two integer pieces, hour 0...23, minute 0...59 ("9:5" is
  // 9:05). Nothing otherwise.
  static std::optional<int> minutes(std::string_view text);

  // Whether `date`, seen in `calendar` (weekday, hour and minute; seconds ignored), lies in the
  // window. False when `start` or `end` does not parse. A window whose start equals its end
  // contains nothing.
  bool contains(Date date, const Calendar& calendar) const;

  // `start` and `end` always; `days` only when present.
  JsonValue toJson() const;
  // `start` and `end` required strings, `days` an optional array of integers. Throws JsonError.
  static TimeWindow fromJson(const JsonReader& json);

  bool operator==(const TimeWindow&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::TimeWindow> {
  std::size_t operator()(const linkferry::TimeWindow& window) const noexcept {
    std::size_t hash =
        std::hash<std::string>()(window.start) * 31 + std::hash<std::string>()(window.end);
    if (window.days) {
      for (auto day : *window.days) hash = hash * 1099511628211ull ^ static_cast<std::size_t>(day);
    } else {
      hash ^= 0x5a5a;
    }
    return hash;
  }
};
