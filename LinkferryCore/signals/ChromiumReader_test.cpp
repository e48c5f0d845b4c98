#include "signals/ChromiumReader.h"

#include <gtest/gtest.h>

#include "fixtures/BrowserDatabases.h"
#include "signals/SQLiteError.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using fixtures::chromiumTime;
using testing::TemporaryDirectory;

// 2026-12-07 07:52:19.786956 UTC, a value Chromium 156 wrote.
constexpr std::int64_t kRealVisit = 13441103539786956;
constexpr double kRealVisitSince1970 = 1796629939.786956;

TEST(ChromiumReader, ReadsHistoryAfterTheCutOffWithExactMicroseconds) {
  TemporaryDirectory profile;
  fixtures::writeChromiumHistory(profile.path() / "History",
                                 {{"http://app.example.com/login", kRealVisit, 2},
                                  {"http://old.example.com/", chromiumTime(1000), 7},
                                  {"http://never.example.com/", 0, 1}});
  auto records = ChromiumReader::history(profile.path(), Date{1500});
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].url, "http://app.example.com/login");
  EXPECT_EQ(records[0].visitCount, 2);
  // Converting the 17-digit value to a double before removing the 1601 offset would be off by
  // a microsecond or two.
  EXPECT_EQ(records[0].lastVisit.secondsSince1970, kRealVisitSince1970);

  // The cut-off is exclusive, and a last visit of 0 is no visit even with the earliest cut-off.
  EXPECT_TRUE(ChromiumReader::history(profile.path(), Date{kRealVisitSince1970}).empty());
  EXPECT_EQ(ChromiumReader::history(profile.path(), Date{-11644473600.0}).size(), 2u);
}

TEST(ChromiumReader, ReadsCookiesAsStoredAndFallsBackToNetworkFolder) {
  TemporaryDirectory root;
  const auto now = chromiumTime(1796629939);
  const std::vector<fixtures::ChromiumCookie> jar = {
      {".Example.COM", "sso", now + 31536000000000, now, true},
      {"app.example.com", "prefs", 0, now, false},
      {"..odd.example", "x", 0, 0, false},
  };
  fixtures::writeChromiumCookies(root.path() / "network-only" / "Network" / "Cookies", jar);
  fixtures::writeChromiumCookies(root.path() / "both" / "Cookies", {jar[0]});
  fixtures::writeChromiumCookies(root.path() / "both" / "Network" / "Cookies", jar);

  auto cookies = ChromiumReader::cookies(root.path() / "network-only");
  ASSERT_EQ(cookies.size(), 3u);
  EXPECT_EQ(cookies[0], (CookieRecord{"example.com", "sso", Date{1796629939.0 + 31536000},
                                      Date{1796629939.0}, true, std::nullopt}));
  EXPECT_EQ(cookies[1], (CookieRecord{"app.example.com", "prefs", std::nullopt, Date{1796629939.0},
                                      false, std::nullopt}));
  // Only one leading dot goes; an unset last access stays unset.
  EXPECT_EQ(cookies[2].host, ".odd.example");
  EXPECT_FALSE(cookies[2].lastAccess);

  EXPECT_EQ(ChromiumReader::cookies(root.path() / "both").size(), 1u);
  EXPECT_TRUE(ChromiumReader::cookies(root.path() / "neither").empty());
  EXPECT_TRUE(ChromiumReader::history(root.path() / "neither", Date{0}).empty());
}

TEST(ChromiumReader, ReportsTablesThatLackAColumn) {
  TemporaryDirectory profile;
  {
    fixtures::FixtureDatabase db(profile.path() / "History");
    db.exec("CREATE TABLE urls(id INTEGER PRIMARY KEY, url TEXT, last_visit_time INTEGER)");
  }
  try {
    ChromiumReader::history(profile.path(), Date{0});
    FAIL() << "no error";
  } catch (const SQLiteError& error) {
    EXPECT_EQ(error.description(), "no such column: visit_count");
  }
}

}  // namespace
}  // namespace linkferry
