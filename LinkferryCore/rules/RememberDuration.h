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

// A "remember for ..." choice offered when a rule is made from the picker: a count of hours,
// days, weeks or months. The settings hold the list offered.
struct RememberDuration {
  enum class Unit { hour, day, week, month };

  std::int64_t count = 1;
  Unit unit = Unit::hour;

  // "hour", "day", "week", "month"; nothing for any other text.
  static std::string_view toString(Unit unit);
  static std::optional<Unit> unitFromString(std::string_view text);

  // The count followed directly by the unit name: "24hour", "1week".
  std::string id() const;
  // The duration in full words for the current locale ("1 hour", "24 hours", "1 week"); the count,
  // a blank and the unit name ("3 day") when the locale's formatter gives nothing.
  std::string title() const;
  // `date` plus `count` units in `calendar`; when the calendar cannot do it (a count out of its
  // range), `date` plus `count` hours' worth of seconds whatever the unit.
  Date expiry(Date from, const Calendar& calendar) const;

  // The settings' list cleaned up: counts below 1 become 1, later duplicates are dropped, the
  // rest is ordered by expiry from `from` (stable), and at most 8 remain.
  static std::vector<RememberDuration> normalized(const std::vector<RememberDuration>& list,
                                                  Date from, const Calendar& calendar);
  // 1 hour, 24 hours, 1 week, 1 month.
  static const std::vector<RememberDuration>& defaults();

  // {"count": 24, "unit": "hour"}.
  JsonValue toJson() const;
  // `count` (integer) and `unit` (one of the four names) are required. Throws JsonError.
  static RememberDuration fromJson(const JsonReader& json);

  bool operator==(const RememberDuration&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::RememberDuration> {
  std::size_t operator()(const linkferry::RememberDuration& duration) const noexcept {
    return std::hash<std::int64_t>()(duration.count) * 31 + static_cast<std::size_t>(duration.unit);
  }
};
