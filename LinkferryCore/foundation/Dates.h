#pragma once

#include <compare>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace linkferry {

// A point in time: seconds since 1970-01-01 00:00:00 UTC.
struct Date {
  double secondsSince1970 = 0;

  // 2001-01-01 00:00:00 UTC, the reference date of macOS time stamps.
  static constexpr double kReferenceDateSince1970 = 978307200.0;

  static Date now();
  static Date fromSecondsSinceReferenceDate(double seconds) {
    return Date{seconds + kReferenceDateSince1970};
  }
  double secondsSinceReferenceDate() const { return secondsSince1970 - kReferenceDateSince1970; }
  Date adding(double seconds) const { return Date{secondsSince1970 + seconds}; }
  double secondsSince(Date other) const { return secondsSince1970 - other.secondsSince1970; }

  auto operator<=>(const Date&) const = default;
};

class Calendar;

// RFC 3339 date-times without fractions: "2026-03-29T02:30:00Z", "2026-03-29T04:30:00+02:00".
namespace RFC3339 {
// Accepts "Z" or a numeric offset (and a fraction of seconds, which is dropped). Nothing otherwise.
std::optional<Date> parse(std::string_view text);
// In UTC with "Z". Fractions of a second are cut off.
std::string formatUTC(Date date);
// In the calendar's time zone with its numeric offset at that date ("Z" when the offset is 0).
std::string format(Date date, const Calendar& calendar);
}  // namespace RFC3339

// A Gregorian calendar in one time zone (ICU). Immutable; safe to share between threads.
class Calendar {
 public:
  enum class Unit { hour, day, week, month };

  // The user's time zone ($TZ, then the system's).
  static Calendar current();
  // Nothing for an unknown zone identifier ("Europe/Berlin", "UTC").
  static std::optional<Calendar> withTimeZone(std::string_view identifier);

  std::string timeZoneIdentifier() const;
  int offsetSeconds(Date date) const;  // from UTC, daylight saving included

  int weekday(Date date) const;  // 1 = Sunday ... 7 = Saturday
  int hour(Date date) const;     // 0...23
  int minute(Date date) const;   // 0...59
  int day(Date date) const;      // 1...31
  int month(Date date) const;    // 1...12
  int year(Date date) const;
  // Calendar arithmetic: a day added across a daylight-saving change keeps the wall-clock time;
  // a month added to 31 January gives the last day of February.
  Date adding(Unit unit, int count, Date date) const;
  Date startOfDay(Date date) const;

 private:
  struct Zone;
  explicit Calendar(std::shared_ptr<const Zone> zone);
  std::shared_ptr<const Zone> m_zone;
};

}  // namespace linkferry
