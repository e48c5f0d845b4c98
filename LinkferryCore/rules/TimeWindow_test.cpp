#include "rules/TimeWindow.h"

#include <gtest/gtest.h>

#include <string>

namespace linkferry {
namespace {

TEST(TimeWindow, MinutesReadsHoursAndMinutes) {
  struct Case {
    const char* text;
    std::optional<int> minutes;
  };
  const Case cases[] = {
      {"00:00", 0},
      {"23:59", 1439},
      {"9:5", 545},
      {"9::30", 570},
      {":9:30:", 570},
      {"+9:30", 570},
      {"24:00", std::nullopt},
      {"12:60", std::nullopt},
      {"-1:00", std::nullopt},
      {"9", std::nullopt},
      {"9:30:00", std::nullopt},
      {"9h:30", std::nullopt},
      {" 9:30", std::nullopt},
      {"", std::nullopt},
      {"99999999999999999999:1", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TimeWindow::minutes(c.text), c.minutes);
  }
}

// Wall-clock instants in a zone: the date and time as the zone's clocks show them.
struct Instant {
  const char* label;
  const char* rfc3339;
  bool expected;
};

void expectContains(const TimeWindow& window, const char* zone,
                    std::initializer_list<Instant> instants) {
  const Calendar calendar = *Calendar::withTimeZone(zone);
  for (const Instant& instant : instants) {
    SCOPED_TRACE(std::string(zone) + " " + instant.label + " " + instant.rfc3339);
    auto date = RFC3339::parse(instant.rfc3339);
    ASSERT_TRUE(date);
    EXPECT_EQ(window.contains(*date, calendar), instant.expected);
  }
}

TEST(TimeWindow, OvernightWindowsBelongToTheDayTheyStarted) {
  const TimeWindow fridayNights{
      .days = std::vector<std::int64_t>{5}, .start = "22:00", .end = "06:00"};
  expectContains(fridayNights, "UTC",
                 {{"Friday 23:30", "2026-12-11T23:30:00Z", true},
                  {"Saturday 01:00", "2026-12-12T01:00:00Z", true},
                  {"Friday 01:00", "2026-12-11T01:00:00Z", false},
                  {"Saturday 23:30", "2026-12-12T23:30:00Z", false},
                  {"Saturday 06:00", "2026-12-12T06:00:00Z", false},
                  {"Friday 22:00", "2026-12-11T22:00:00Z", true},
                  {"Friday 21:59", "2026-12-11T21:59:59Z", false}});

  // Monday's yesterday is Sunday (7).
  const TimeWindow sundayNights{
      .days = std::vector<std::int64_t>{7}, .start = "23:00", .end = "02:00"};
  expectContains(sundayNights, "UTC",
                 {{"Monday 01:00", "2026-12-14T01:00:00Z", true},
                  {"Tuesday 01:00", "2026-12-15T01:00:00Z", false}});
}

TEST(TimeWindow, DaytimeWindowsIncludeStartExcludeEnd) {
  const TimeWindow office{.days = std::nullopt, .start = "09:00", .end = "17:00"};
  expectContains(office, "UTC",
                 {{"09:00", "2026-12-07T09:00:00Z", true},
                  {"16:59:59", "2026-12-07T16:59:59Z", true},
                  {"17:00", "2026-12-07T17:00:00Z", false},
                  {"08:59", "2026-12-07T08:59:00Z", false}});
  const TimeWindow empty{.days = std::nullopt, .start = "10:00", .end = "10:00"};
  expectContains(empty, "UTC", {{"10:00", "2026-12-07T10:00:00Z", false}});
  const TimeWindow malformed{.days = std::nullopt, .start = "24:00", .end = "07:00"};
  expectContains(malformed, "UTC", {{"any", "2026-12-07T03:00:00Z", false}});
  const TimeWindow noDays{.days = std::vector<std::int64_t>{}, .start = "00:00", .end = "23:59"};
  expectContains(noDays, "UTC", {{"any", "2026-12-07T03:00:00Z", false}});
}

// 2026 in Berlin: clocks go from 02:00 to 03:00 on Sunday 29 March and from 03:00 back to 02:00
// on Sunday 25 October. Windows read the local wall clock of the instant.
TEST(TimeWindow, FollowsTheLocalClockAcrossDaylightSavingChanges) {
  const TimeWindow saturdayNights{
      .days = std::vector<std::int64_t>{6}, .start = "22:00", .end = "03:30"};
  expectContains(saturdayNights, "Europe/Berlin",
                 {{"Sat 28 Mar 23:00 CET", "2026-03-28T22:00:00Z", true},
                  {"Sun 29 Mar 01:59 CET", "2026-03-29T00:59:00Z", true},
                  {"Sun 29 Mar 03:00 CEST (one hour later)", "2026-03-29T01:00:00Z", true},
                  {"Sun 29 Mar 03:30 CEST", "2026-03-29T01:30:00Z", false},
                  {"Sun 25 Oct 02:30 CEST", "2026-10-25T00:30:00Z", true},
                  {"Sun 25 Oct 02:30 CET (the hour again)", "2026-10-25T01:30:00Z", true},
                  {"Sun 25 Oct 03:29 CET", "2026-10-25T02:29:00Z", true},
                  {"Sun 25 Oct 03:30 CET", "2026-10-25T02:30:00Z", false}});
  // The same instants in UTC fall at other wall-clock times.
  expectContains(saturdayNights, "UTC",
                 {{"Sun 29 Mar 01:30 UTC", "2026-03-29T01:30:00Z", true},
                  {"Sun 25 Oct 02:30 UTC", "2026-10-25T02:30:00Z", true},
                  {"Sat 28 Mar 22:00 UTC", "2026-03-28T22:00:00Z", true},
                  {"Sat 28 Mar 21:30 UTC", "2026-03-28T21:30:00Z", false}});

  const TimeWindow weekdayMornings{
      .days = std::vector<std::int64_t>{1, 2, 3, 4, 5}, .start = "08:00", .end = "09:00"};
  expectContains(weekdayMornings, "Europe/Berlin",
                 {{"Mon 30 Mar 08:15 CEST", "2026-03-30T06:15:00Z", true},
                  {"Mon 30 Mar 07:15 CEST", "2026-03-30T05:15:00Z", false},
                  {"Mon 26 Oct 08:15 CET", "2026-10-26T07:15:00Z", true},
                  {"Mon 26 Oct 09:15 CET", "2026-10-26T08:15:00Z", false}});
}

}  // namespace
}  // namespace linkferry
