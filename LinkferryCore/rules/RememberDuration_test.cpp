#include "rules/RememberDuration.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <string>

namespace linkferry {
namespace {

using Unit = RememberDuration::Unit;

TEST(RememberDuration, IdsTitlesAndDefaults) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale previous = icu::Locale::getDefault();
  icu::Locale::setDefault(icu::Locale("en_US"), status);
  std::vector<std::string> ids, titles;
  for (const RememberDuration& duration : RememberDuration::defaults()) {
    ids.push_back(duration.id());
    titles.push_back(duration.title());
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"1hour", "24hour", "1week", "1month"}));
  EXPECT_EQ(titles, (std::vector<std::string>{"1 hour", "24 hours", "1 week", "1 month"}));
  EXPECT_EQ((RememberDuration{3, Unit::day}.title()), "3 days");
  icu::Locale::setDefault(previous, status);
}

TEST(RememberDuration, ExpiryUsesCalendarArithmetic) {
  const Calendar berlin = *Calendar::withTimeZone("Europe/Berlin");
  // Saturday 28 March 2026, 12:00 CET; the clocks change the next night.
  const Date saturdayNoon = *RFC3339::parse("2026-03-28T12:00:00+01:00");
  EXPECT_EQ((RememberDuration{24, Unit::hour}.expiry(saturdayNoon, berlin)),
            saturdayNoon.adding(24 * 3600));
  EXPECT_EQ((RememberDuration{1, Unit::day}.expiry(saturdayNoon, berlin)),
            *RFC3339::parse("2026-03-29T12:00:00+02:00"));
  EXPECT_EQ((RememberDuration{1, Unit::week}.expiry(saturdayNoon, berlin)),
            *RFC3339::parse("2026-04-04T12:00:00+02:00"));
  EXPECT_EQ((RememberDuration{1, Unit::month}.expiry(*RFC3339::parse("2026-01-31T09:00:00Z"),
                                                     *Calendar::withTimeZone("UTC"))),
            *RFC3339::parse("2026-02-28T09:00:00Z"));
  // Far beyond what a calendar can count: whole hours instead, whatever the unit.
  const RememberDuration huge{4'000'000'000'000, Unit::month};
  EXPECT_EQ(huge.expiry(Date{0}, berlin), Date{4'000'000'000'000.0 * 3600});
}

TEST(RememberDuration, NormalizedClampsDeduplicatesSortsAndLimits) {
  const Calendar utc = *Calendar::withTimeZone("UTC");
  const Date from{1'800'000'000};
  EXPECT_EQ(RememberDuration::normalized(
                {{0, Unit::hour}, {1, Unit::hour}, {1, Unit::month}, {2, Unit::day}}, from, utc),
            (std::vector<RememberDuration>{{1, Unit::hour}, {2, Unit::day}, {1, Unit::month}}));
  // Equal expiries keep their order.
  EXPECT_EQ(
      RememberDuration::normalized({{7, Unit::day}, {1, Unit::week}, {168, Unit::hour}}, from, utc),
      (std::vector<RememberDuration>{{7, Unit::day}, {1, Unit::week}, {168, Unit::hour}}));
  std::vector<RememberDuration> many;
  for (int count = 12; count >= -2; --count) many.push_back({count, Unit::day});
  std::vector<RememberDuration> expected;
  for (int count = 1; count <= 8; ++count) expected.push_back({count, Unit::day});
  EXPECT_EQ(RememberDuration::normalized(many, from, utc), expected);
}

TEST(RememberDuration, JsonNamesTheUnit) {
  const JsonValue json = RememberDuration{24, Unit::hour}.toJson();
  EXPECT_EQ(json, JsonValue::parse(R"({"count": 24, "unit": "hour"})"));
  EXPECT_EQ(RememberDuration::fromJson(JsonReader(json, "settings.json")),
            (RememberDuration{24, Unit::hour}));
  const JsonValue bad = JsonValue::parse(R"({"count": 2, "unit": "year"})");
  try {
    RememberDuration::fromJson(JsonReader(bad, "settings.json", "rememberDurations[1]"));
    ADD_FAILURE() << "an unknown unit was read";
  } catch (const JsonError& error) {
    EXPECT_EQ(error.path(), "rememberDurations[1].unit");
  }
}

}  // namespace
}  // namespace linkferry
