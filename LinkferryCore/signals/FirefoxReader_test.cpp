#include "signals/FirefoxReader.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "fixtures/BrowserDatabases.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

TEST(FirefoxReader, ContainerIDFromOriginAttributes) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"^userContextId=2&privateBrowsingId=0", "2"},
      {"^privateBrowsingId=1&userContextId=6", "6"},
      {"^userContextId=0", std::nullopt},
      {"", std::nullopt},
      {"userContextId=2", std::nullopt},  // no leading "^"
      {"^&&userContextId=3&", "3"},
      {"^userContextId=", std::nullopt},
      {"^userContextId=0&userContextId=4", "4"},
      {"^firstPartyDomain=a.test&userContextId=5=x", "5=x"},  // split at the first "=" only
  };
  for (const auto& [attributes, expected] : cases) {
    SCOPED_TRACE(attributes);
    EXPECT_EQ(FirefoxReader::containerID(attributes), expected);
  }
}

TEST(FirefoxReader, ReadsCookiesWithSecondOrMillisecondExpiries) {
  TemporaryDirectory profile;
  fixtures::writeFirefoxCookies(
      profile.path() / "cookies.sqlite",
      {{".example.com", "sso", 1828165972357, 1796629972357521, "^userContextId=2"},
       {"App.Example.com", "sessionid", 1700000000, 1796629972049297, ""},
       {"shop.example.org", "sessionid", 0, 0, "^userContextId=0"}});
  auto cookies = FirefoxReader::cookies(profile.path());
  ASSERT_EQ(cookies.size(), 3u);
  EXPECT_EQ(cookies[0], (CookieRecord{"example.com", "sso", Date{1828165972.357},
                                      Date{1796629972.357521}, true, "2"}));
  EXPECT_EQ(cookies[1], (CookieRecord{"app.example.com", "sessionid", Date{1700000000},
                                      Date{1796629972.049297}, true, std::nullopt}));
  EXPECT_EQ(cookies[2], (CookieRecord{"shop.example.org", "sessionid", std::nullopt, std::nullopt,
                                      true, std::nullopt}));
}

TEST(FirefoxReader, ReadsVisitedPlacesOnly) {
  TemporaryDirectory profile;
  fixtures::writeFirefoxPlaces(profile.path() / "places.sqlite",
                               {{"https://support.mozilla.org/", std::nullopt, 0},
                                {"http://app.example.com/login", 1796629972367632, 2},
                                {"http://app.example.com/old", 1000000, 9},
                                {"http://zero.example/", 0, 1}});
  auto records = FirefoxReader::history(profile.path(), Date{0});
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(std::find(records.begin(), records.end(),
                      HistoryRecord{"http://app.example.com/login", Date{1796629972.367632}, 2}),
            records.end());
  EXPECT_EQ(FirefoxReader::history(profile.path(), Date{1}).size(), 1u);  // exclusive cut-off
  EXPECT_TRUE(FirefoxReader::cookies(profile.path()).empty());            // no cookies.sqlite
}

}  // namespace
}  // namespace linkferry
