// Discovery on data written by this machine's real Chromium and Firefox (tests/fixtures).
#include <gtest/gtest.h>

#include "browsers/BrowserCatalog.h"
#include "browsers/ProfileScanner.h"
#include "fixtures/RealBrowsers.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using testing::realBrowserData;

// Skips when the browser cannot run here; fails when it ran and failed.
#define REQUIRE_REAL_BROWSER(browser)                                                 \
  do {                                                                                \
    if (auto why = realBrowserData().unavailable(browser)) GTEST_SKIP() << *why;      \
    ASSERT_TRUE(realBrowserData().ok(browser)) << realBrowserData().failure(browser); \
  } while (false)

std::string manifestString(const char* browser, const char* key) {
  return realBrowserData().manifest[browser][key].get<std::string>();
}

TEST(RealChromium, ProfilesComeFromLocalState) {
  REQUIRE_REAL_BROWSER("chromium");
  const fs::path userDataDir = manifestString("chromium", "userDataDir");
  auto profiles = ProfileScanner::chromium(userDataDir);
  ASSERT_EQ(profiles.size(), 2u);
  EXPECT_EQ(profiles[0].id, "Default");
  EXPECT_EQ(profiles[1].id, "Profile 1");
  for (const BrowserProfile& profile : profiles) {
    SCOPED_TRACE(profile.id);
    EXPECT_FALSE(profile.name.empty());
    EXPECT_NE(profile.name, profile.id);  // Chromium names new profiles itself
    EXPECT_EQ(profile.path, userDataDir / profile.id);
    EXPECT_TRUE(fs::exists(profile.path / "Preferences"));
    // Not signed in: Chromium writes an empty user_name and no account list.
    EXPECT_EQ(profile.email, std::nullopt);
    EXPECT_TRUE(profile.googleAccounts.empty());
    EXPECT_EQ(profile.avatarPath, std::nullopt);
    // Colours are stored as negative signed integers; read as opaque ARGB.
    ASSERT_TRUE(profile.avatarColor);
    EXPECT_EQ(*profile.avatarColor >> 24, 0xFFu);
    ASSERT_TRUE(profile.avatarTextColor);
    EXPECT_EQ(*profile.avatarTextColor >> 24, 0xFFu);
  }
}

TEST(RealFirefox, ProfilesAndContainersComeFromProfilesIniAndContainersJson) {
  REQUIRE_REAL_BROWSER("firefox");
  const JsonValue& firefox = realBrowserData().manifest["firefox"];
  auto profiles = ProfileScanner::firefox(manifestString("firefox", "profilesRoot"));
  ASSERT_EQ(profiles.size(), 2u);
  // Firefox writes the newest profile first.
  EXPECT_EQ(profiles[0].id, "work");
  EXPECT_EQ(profiles[0].path, fs::path(firefox["profiles"]["work"].get<std::string>()));
  EXPECT_EQ(profiles[1].id, "personal");
  EXPECT_EQ(profiles[1].path, fs::path(firefox["profiles"]["personal"].get<std::string>()));

  // The built-in containers carry only "l10nId"; the internal ones are not public.
  const std::string clientA = std::to_string(firefox["containers"]["Client A"].get<int>());
  std::vector<FirefoxContainer> expected = {
      {"1", "Personal", "blue"}, {"2", "Work", "orange"},         {"3", "Banking", "green"},
      {"4", "Shopping", "pink"}, {clientA, "Client A", "orange"},
  };
  EXPECT_EQ(profiles[0].containers, expected);
  // Created but never started: no containers.json yet.
  EXPECT_TRUE(profiles[1].containers.empty());
}

TEST(RealBrowsers, LinuxDiscoveryFindsBothWithTheirProfiles) {
  REQUIRE_REAL_BROWSER("chromium");
  REQUIRE_REAL_BROWSER("firefox");
  const fs::path applications = "/usr/share/applications";
  auto entries = DesktopEntries::httpHandlers(DesktopEntries::load({applications}), std::nullopt);
  // Firefox was run with this home; Chromium's data sits elsewhere, so it comes in as a custom
  // instance with its own data folder, as a user would add it.
  const fs::path home = manifestString("firefox", "home");
  BrowserDefinition customChromium{"work-chromium",
                                   "Work Chromium",
                                   BrowserFamily::chromium,
                                   "/usr/bin/chromium",
                                   manifestString("chromium", "userDataDir"),
                                   true,
                                   {}};
  auto catalog = BrowserCatalog::discover(entries, {customChromium}, home, "/usr/bin",
                                          [](const std::string& path) { return fs::exists(path); });
  const CatalogBrowser* firefox = catalog.browser("firefox-esr");
  ASSERT_NE(firefox, nullptr);
  EXPECT_EQ(firefox->profiles.size(), 2u);
  EXPECT_FALSE(firefox->dataBlocked);
  const CatalogBrowser* chromium = catalog.browser("work-chromium");
  ASSERT_NE(chromium, nullptr);
  EXPECT_EQ(chromium->targets().size(), 2u);
  EXPECT_EQ(catalog.browserID("chromium", chromium->definition.dataDir), "work-chromium");
}

}  // namespace
}  // namespace linkferry
