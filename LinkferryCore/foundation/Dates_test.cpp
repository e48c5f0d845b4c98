#include "foundation/Dates.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace linkferry {
namespace {

Date at(std::string_view text) {
  const auto date = RFC3339::parse(text);
  EXPECT_TRUE(date) << text;
  return date.value_or(Date{});
}

Calendar berlin() {
  auto calendar = Calendar::withTimeZone("Europe/Berlin");
  EXPECT_TRUE(calendar);
  return *calendar;
}

TEST(RFC3339, ReadsZonesAndFractionsAndWritesUTC) {
  struct Case {
    std::string_view text;
    std::string_view utc;
  };
  const Case cases[] = {
      {"2026-03-29T02:30:00Z", "2026-03-29T02:30:00Z"},
      {"2026-03-29T04:30:00+02:00", "2026-03-29T02:30:00Z"},
      {"2026-03-28T21:00:00-05:30", "2026-03-29T02:30:00Z"},
      {"2026-03-29t02:30:00z", "2026-03-29T02:30:00Z"},
      {"2026-03-29T02:30:00.999+00:00", "2026-03-29T02:30:00Z"},
      {"2024-02-29T23:59:59Z", "2024-02-29T23:59:59Z"},
      {"2000-02-29T00:00:00Z", "2000-02-29T00:00:00Z"},
      {"1969-12-31T23:59:59Z", "1969-12-31T23:59:59Z"},
      {"0001-01-01T00:00:00Z", "0001-01-01T00:00:00Z"},
      {"2026-12-31T23:59:60Z", "2027-01-01T00:00:00Z"},  // leap second
  };
  for (const auto& [text, utc] : cases) {
    SCOPED_TRACE(text);
    const auto date = RFC3339::parse(text);
    ASSERT_TRUE(date);
    EXPECT_EQ(RFC3339::formatUTC(*date), utc);
  }
  EXPECT_EQ(at("1970-01-01T00:00:00Z").secondsSince1970, 0);
  EXPECT_EQ(at("2001-01-01T00:00:00Z").secondsSince1970, Date::kReferenceDateSince1970);
}

TEST(RFC3339, RefusesAnythingElse) {
  for (std::string_view text : {"",
                                "2026-03-29",
                                "2026-03-29T02:30:00",
                                "2026-03-29T02:30Z",
                                "2026-03-29 02:30:00Z",
                                "2026-3-29T02:30:00Z",
                                "2026-03-29T02:30:00+0200",
                                "2026-03-29T02:30:00+02",
                                "2026-03-29T02:30:00.Z",
                                "2026-03-29T02:30:00Z ",
                                " 2026-03-29T02:30:00Z",
                                "2026-13-01T00:00:00Z",
                                "2026-00-10T00:00:00Z",
                                "2026-02-29T00:00:00Z",
                                "2100-02-29T00:00:00Z",
                                "2026-04-31T00:00:00Z",
                                "2026-03-00T00:00:00Z",
                                "2026-03-29T24:00:00Z",
                                "2026-03-29T23:60:00Z",
                                "2026-03-29T23:59:61Z",
                                "2026-03-29T02:30:00+24:00",
                                "2026-03-29T02:30:00+01:60",
                                "２０２６-03-29T02:30:00Z"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(RFC3339::parse(text));
  }
}

TEST(RFC3339, CutsFractionsTowardsThePast) {
  EXPECT_EQ(RFC3339::formatUTC(Date{0.999}), "1970-01-01T00:00:00Z");
  EXPECT_EQ(RFC3339::formatUTC(Date{-0.5}), "1969-12-31T23:59:59Z");
}

TEST(RFC3339, WritesTheCalendarsOffsetAtThatInstant) {
  const Calendar calendar = berlin();
  struct Case {
    std::string_view utc;
    std::string_view local;
  };
  const Case cases[] = {
      {"2026-03-29T00:59:59Z", "2026-03-29T01:59:59+01:00"},
      {"2026-03-29T01:00:00Z", "2026-03-29T03:00:00+02:00"},
      {"2026-10-25T00:59:59Z", "2026-10-25T02:59:59+02:00"},
      {"2026-10-25T01:00:00Z", "2026-10-25T02:00:00+01:00"},
  };
  for (const auto& [utc, local] : cases) {
    SCOPED_TRACE(utc);
    EXPECT_EQ(RFC3339::format(at(utc), calendar), local);
    EXPECT_EQ(RFC3339::parse(local), at(utc));
  }
  const auto utc = Calendar::withTimeZone("UTC");
  ASSERT_TRUE(utc);
  EXPECT_EQ(RFC3339::format(at("2026-03-29T02:30:00Z"), *utc), "2026-03-29T02:30:00Z");
  const auto india = Calendar::withTimeZone("Asia/Kolkata");
  ASSERT_TRUE(india);
  EXPECT_EQ(RFC3339::format(at("2026-03-29T02:30:00Z"), *india), "2026-03-29T08:00:00+05:30");
}

TEST(Calendar, KnowsOnlyRealTimeZones) {
  EXPECT_FALSE(Calendar::withTimeZone("Mars/Olympus_Mons"));
  EXPECT_FALSE(Calendar::withTimeZone(""));
  EXPECT_FALSE(Calendar::withTimeZone("Etc/Unknown"));
  EXPECT_EQ(berlin().timeZoneIdentifier(), "Europe/Berlin");
}

TEST(Calendar, CurrentFollowsTheTZVariable) {
  {
    testing::ScopedEnvironment zone("TZ", "Asia/Tokyo");
    EXPECT_EQ(Calendar::current().timeZoneIdentifier(), "Asia/Tokyo");
    EXPECT_EQ(Calendar::current().offsetSeconds(Date::now()), 9 * 3600);
  }
  testing::ScopedEnvironment zone("TZ", "America/New_York");
  EXPECT_EQ(Calendar::current().hour(at("2026-07-01T12:00:00Z")), 8);
  // The calendar is made once per zone setting, and again whenever it changes, back included.
  const Calendar first = Calendar::current();
  {
    testing::ScopedEnvironment utc("TZ", "UTC");
    EXPECT_EQ(Calendar::current().hour(at("2026-07-01T12:00:00Z")), 12);
  }
  EXPECT_EQ(Calendar::current().hour(at("2026-07-01T12:00:00Z")), 8);
  EXPECT_EQ(first.hour(at("2026-01-01T12:00:00Z")), 7);
}

TEST(Calendar, ReadsFieldsAcrossDaylightSavingChanges) {
  const Calendar calendar = berlin();
  struct Case {
    std::string_view instant;
    int weekday, hour, minute, day, month, year, offset;
  };
  const Case cases[] = {
      {"2026-03-29T00:59:00Z", 1, 1, 59, 29, 3, 2026, 3600},
      {"2026-03-29T01:00:00Z", 1, 3, 0, 29, 3, 2026, 7200},
      {"2026-10-25T00:30:00Z", 1, 2, 30, 25, 10, 2026, 7200},
      {"2026-10-25T01:30:00Z", 1, 2, 30, 25, 10, 2026, 3600},
      {"2026-12-31T23:30:00Z", 6, 0, 30, 1, 1, 2027, 3600},  // already Friday 1 January
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.instant);
    const Date date = at(c.instant);
    EXPECT_EQ(calendar.weekday(date), c.weekday);
    EXPECT_EQ(calendar.hour(date), c.hour);
    EXPECT_EQ(calendar.minute(date), c.minute);
    EXPECT_EQ(calendar.day(date), c.day);
    EXPECT_EQ(calendar.month(date), c.month);
    EXPECT_EQ(calendar.year(date), c.year);
    EXPECT_EQ(calendar.offsetSeconds(date), c.offset);
  }
}

TEST(Calendar, AddsInWallClockTime) {
  const Calendar calendar = berlin();
  using Unit = Calendar::Unit;
  struct Case {
    std::string_view name;
    Unit unit;
    int count;
    std::string_view from, to;
  };
  const Case cases[] = {
      {"day over spring change", Unit::day, 1, "2026-03-28T12:00:00+01:00",
       "2026-03-29T12:00:00+02:00"},
      {"day over autumn change", Unit::day, 1, "2026-10-24T12:00:00+02:00",
       "2026-10-25T12:00:00+01:00"},
      {"days backwards", Unit::day, -2, "2026-03-30T08:15:00+02:00", "2026-03-28T08:15:00+01:00"},
      {"hour is elapsed time", Unit::hour, 1, "2026-03-29T01:30:00+01:00",
       "2026-03-29T03:30:00+02:00"},
      {"week", Unit::week, 1, "2026-03-25T09:00:00+01:00", "2026-04-01T09:00:00+02:00"},
      {"month to a shorter month", Unit::month, 1, "2026-01-31T10:00:00+01:00",
       "2026-02-28T10:00:00+01:00"},
      {"month into a leap February", Unit::month, 1, "2028-01-31T10:00:00+01:00",
       "2028-02-29T10:00:00+01:00"},
      {"year boundary", Unit::month, 2, "2026-12-15T10:00:00+01:00", "2027-02-15T10:00:00+01:00"},
  };
  for (const auto& [name, unit, count, from, to] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RFC3339::format(calendar.adding(unit, count, at(from)), calendar), to);
  }
  const Date fractional = at("2026-03-28T12:00:00Z").adding(0.25);
  EXPECT_DOUBLE_EQ(calendar.adding(Unit::day, 1, fractional).secondsSince1970,
                   at("2026-03-29T11:00:00Z").secondsSince1970 + 0.25);
}

TEST(Calendar, StartOfDayIsTheFirstMomentOfThatLocalDay) {
  const Calendar calendar = berlin();
  EXPECT_EQ(RFC3339::format(calendar.startOfDay(at("2026-03-29T23:59:59+02:00")), calendar),
            "2026-03-29T00:00:00+01:00");
  EXPECT_EQ(RFC3339::format(calendar.startOfDay(at("2026-10-25T00:30:00Z")), calendar),
            "2026-10-25T00:00:00+02:00");
  // São Paulo skipped midnight when its summer time began on 4 November 2018.
  const auto saoPaulo = Calendar::withTimeZone("America/Sao_Paulo");
  ASSERT_TRUE(saoPaulo);
  EXPECT_EQ(RFC3339::format(saoPaulo->startOfDay(at("2018-11-04T12:00:00-02:00")), *saoPaulo),
            "2018-11-04T01:00:00-02:00");
}

TEST(Calendar, OneCalendarServesSeveralThreads) {
  const Calendar calendar = berlin();
  std::atomic<int> wrong = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const Date date = at("2026-03-28T12:00:00+01:00").adding(t * 60.0);
      for (int i = 0; i < 300; ++i) {
        const Date next = calendar.adding(Calendar::Unit::day, 1, date);
        if (calendar.hour(next) != 12 || calendar.minute(next) != t) ++wrong;
        if (next.secondsSince(date) != 23 * 3600) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace linkferry
