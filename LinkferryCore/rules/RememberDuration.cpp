#include "rules/RememberDuration.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include <unicode/locid.h>
#include <unicode/measfmt.h>
#include <unicode/measunit.h>
#include <unicode/measure.h>

namespace linkferry {
namespace {

Calendar::Unit calendarUnit(RememberDuration::Unit unit) {
  switch (unit) {
    case RememberDuration::Unit::hour:
      return Calendar::Unit::hour;
    case RememberDuration::Unit::day:
      return Calendar::Unit::day;
    case RememberDuration::Unit::week:
      return Calendar::Unit::week;
    case RememberDuration::Unit::month:
      return Calendar::Unit::month;
  }
  return Calendar::Unit::hour;
}

icu::MeasureUnit* createMeasureUnit(RememberDuration::Unit unit, UErrorCode& status) {
  switch (unit) {
    case RememberDuration::Unit::hour:
      return icu::MeasureUnit::createHour(status);
    case RememberDuration::Unit::day:
      return icu::MeasureUnit::createDay(status);
    case RememberDuration::Unit::week:
      return icu::MeasureUnit::createWeek(status);
    case RememberDuration::Unit::month:
      return icu::MeasureUnit::createMonth(status);
  }
  return nullptr;
}

std::optional<std::string> formattedDuration(std::int64_t count, RememberDuration::Unit unit) {
  UErrorCode status = U_ZERO_ERROR;
  icu::MeasureFormat format(icu::Locale::getDefault(), UMEASFMT_WIDTH_WIDE, status);
  if (U_FAILURE(status)) return std::nullopt;
  icu::MeasureUnit* measureUnit = createMeasureUnit(unit, status);
  if (U_FAILURE(status) || !measureUnit) {
    delete measureUnit;
    return std::nullopt;
  }
  // The measure owns its unit from here on.
  icu::Measure measure(icu::Formattable(static_cast<int64_t>(count)), measureUnit, status);
  if (U_FAILURE(status)) return std::nullopt;
  icu::UnicodeString text;
  icu::FieldPosition position;
  format.formatMeasures(&measure, 1, text, position, status);
  if (U_FAILURE(status) || text.isEmpty()) return std::nullopt;
  std::string result;
  text.toUTF8String(result);
  return result;
}

}  // namespace

std::string_view RememberDuration::toString(Unit unit) {
  switch (unit) {
    case Unit::hour:
      return "hour";
    case Unit::day:
      return "day";
    case Unit::week:
      return "week";
    case Unit::month:
      return "month";
  }
  return "hour";
}

std::optional<RememberDuration::Unit> RememberDuration::unitFromString(std::string_view text) {
  for (Unit unit : {Unit::hour, Unit::day, Unit::week, Unit::month}) {
    if (toString(unit) == text) return unit;
  }
  return std::nullopt;
}

std::string RememberDuration::id() const {
  return std::to_string(count) + std::string(toString(unit));
}

std::string RememberDuration::title() const {
  if (auto text = formattedDuration(count, unit)) return *text;
  return std::to_string(count) + " " + std::string(toString(unit));
}

Date RememberDuration::expiry(Date from, const Calendar& calendar) const {
  // Beyond a few thousand years the calendar's own arithmetic is meaningless or overflows.
  constexpr std::int64_t kCalendarLimit = 1'000'000;
  if (count >= -kCalendarLimit && count <= kCalendarLimit) {
    Date result = calendar.adding(calendarUnit(unit), static_cast<int>(count), from);
    if (std::isfinite(result.secondsSince1970)) return result;
  }
  return from.adding(static_cast<double>(count) * 3600.0);
}

std::vector<RememberDuration> RememberDuration::normalized(
    const std::vector<RememberDuration>& list, Date from, const Calendar& calendar) {
  std::vector<RememberDuration> unique;
  for (RememberDuration duration : list) {
    duration.count = std::max<std::int64_t>(duration.count, 1);
    if (std::find(unique.begin(), unique.end(), duration) == unique.end())
      unique.push_back(duration);
  }
  std::vector<std::pair<Date, RememberDuration>> keyed;
  keyed.reserve(unique.size());
  for (const RememberDuration& duration : unique) {
    keyed.emplace_back(duration.expiry(from, calendar), duration);
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<RememberDuration> result;
  for (std::size_t i = 0; i < keyed.size() && i < 8; ++i) result.push_back(keyed[i].second);
  return result;
}

const std::vector<RememberDuration>& RememberDuration::defaults() {
  static const auto& list = *new std::vector<RememberDuration>{
      {1, Unit::hour}, {24, Unit::hour}, {1, Unit::week}, {1, Unit::month}};
  return list;
}

JsonValue RememberDuration::toJson() const {
  JsonValue json = JsonValue::object();
  json["count"] = count;
  json["unit"] = std::string(toString(unit));
  return json;
}

RememberDuration RememberDuration::fromJson(const JsonReader& json) {
  std::int64_t count = json["count"].integer();
  JsonReader unitJson = json["unit"];
  std::string name = unitJson.string();
  auto unit = unitFromString(name);
  if (!unit) unitJson.fail("expected one of hour, day, week, month, got \"" + name + "\"");
  return RememberDuration{count, *unit};
}

}  // namespace linkferry
