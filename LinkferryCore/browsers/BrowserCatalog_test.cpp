#include "browsers/BrowserCatalog.h"

#include <gtest/gtest.h>

#include <map>

#include "browsers/KnownLinuxBrowsers.h"
#include "fixtures/BrowserProfiles.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;

class FakeWorkspace : public Workspace {
 public:
  // Application path -> bundle identifier (absent: the bundle has none), in the workspace's order.
  std::vector<std::pair<std::string, std::optional<std::string>>> apps;
  mutable std::optional<std::string> askedAbout;

  std::vector<std::string> applicationsToOpen(const URL& url) const override {
    askedAbout = url.absoluteString();
    std::vector<std::string> paths;
    for (const auto& app : apps) paths.push_back(app.first);
    return paths;
  }
  std::optional<std::string> bundleIdentifier(const std::string& path) const override {
    for (const auto& app : apps) {
      if (app.first == path) return app.second;
    }
    return std::nullopt;
  }
};

std::vector<std::string> ids(const BrowserCatalog& catalog) {
  std::vector<std::string> result;
  for (const auto& browser : catalog.browsers) result.push_back(browser.definition.id);
  return result;
}

BrowserDefinition definition(std::string id, BrowserFamily family = BrowserFamily::other,
                             std::optional<std::string> dataDir = std::nullopt,
                             bool explicitDir = false) {
  return BrowserDefinition{id, id, family, "/bin/" + id, std::move(dataDir), explicitDir, {}};
}

TEST(InstalledApps, KeepsTheFirstOfEachIdentifierAndLeavesOutNonBrowsers) {
  FakeWorkspace workspace;
  workspace.apps = {
      {"/Applications/Google Chrome.app", "com.google.Chrome"},
      {"/Applications/No Bundle.app", std::nullopt},
      {"/Users/u/Library/Caches/Old.app", "com.old"},
      {"/Applications/Big.app/Contents/Helpers/Inner.app", "com.inner"},
      {"/Applications/Velja.app", "com.sindresorhus.Velja"},
      {"/Applications/Ghostty.app", "com.mitchellh.ghostty"},
      {"/Users/u/Applications (Parallels)/Edge.app", "com.parallels.winapp.1234"},
      {"/Applications/Self.app", "com.example.self"},
      {"/Volumes/Backup/Google Chrome.app", "com.google.Chrome"},
      {"/Applications/Safari.app", "com.apple.Safari"},
  };
  auto apps = InstalledApps::httpHandlers(workspace, std::string("com.example.self"));
  EXPECT_EQ(apps,
            (std::vector<InstalledApp>{{"com.google.Chrome", "/Applications/Google Chrome.app"},
                                       {"com.apple.Safari", "/Applications/Safari.app"}}));
  ASSERT_TRUE(workspace.askedAbout);
  EXPECT_EQ(workspace.askedAbout->rfind("https://", 0), 0u);
  EXPECT_EQ(InstalledApps::excludedBundleIDs().size(), 12u);
}

TEST(BrowserCatalog, MacOSDiscoveryMergesCustomDefinitionsInPlace) {
  TemporaryDirectory appSupport;
  appSupport.write("Google/Chrome/Local State",
                   R"({"profile":{"info_cache":{"Default":{},"Profile 1":{},"Profile 2":{}}}})");
  const std::vector<InstalledApp> installed = {
      {"com.google.Chrome", "/Applications/Google Chrome.app"},
      {"com.example.Reader", "/Applications/Feed Reader.app/"},
      {"com.apple.Safari", "/Applications/Safari.app"},
  };
  BrowserDefinition customReader = definition("com.example.Reader", BrowserFamily::firefox);
  const std::vector<BrowserDefinition> custom = {definition("com.example.Extra"), customReader};
  auto catalog = BrowserCatalog::discover(installed, custom, appSupport.path());

  EXPECT_EQ(ids(catalog), (std::vector<std::string>{"com.google.Chrome", "com.example.Reader",
                                                    "com.apple.Safari", "com.example.Extra"}));
  const CatalogBrowser& chrome = catalog.browsers[0];
  EXPECT_EQ(chrome.definition.name, "Google Chrome");
  EXPECT_EQ(chrome.definition.dataDir, (appSupport.path() / "Google/Chrome").string());
  EXPECT_EQ(chrome.profiles.size(), 3u);
  EXPECT_EQ(catalog.browsers[1].definition, customReader);
  EXPECT_EQ(catalog.browsers[2].definition.dataDir, std::nullopt);

  auto plain = BrowserCatalog::discover({installed[1]}, {}, appSupport.path());
  EXPECT_EQ(plain.browsers[0].definition.name, "Feed Reader");
  EXPECT_EQ(plain.browsers[0].definition.family, BrowserFamily::other);
  EXPECT_FALSE(plain.browsers[0].dataBlocked);
}

BrowserCatalog sampleCatalog() {
  BrowserProfile work{
      "work", "work",
      "/w",   {{"2", "Work", "orange"}, {"6", "Client A", std::nullopt}, {"7", "Odd", "magenta"}},
      {},     {},
      {},     {},
      {}};
  BrowserProfile personal{"Default", "  personal", "/p",        {},         "me@example.com",
                          {},        "/p/pic.png", 0xFF112233u, 0xFF000000u};
  BrowserProfile plain{"Profile 1", "Plain", "/q", {}, {}, {}, {}, {}, {}};
  return BrowserCatalog{{
      CatalogBrowser{definition("chrome", BrowserFamily::chromium), {personal, plain}, false},
      CatalogBrowser{definition("firefox", BrowserFamily::firefox), {work}, false},
      CatalogBrowser{definition("other"), {}, false},
      CatalogBrowser{definition("locked", BrowserFamily::chromium, "/x"), {}, true},
  }};
}

TEST(BrowserCatalog, TargetsListOneEntryPerProfileOrOnePerBrowser) {
  auto catalog = sampleCatalog();
  std::vector<std::string> descriptions;
  for (const auto& target : catalog.allTargets()) descriptions.push_back(target.description());
  EXPECT_EQ(descriptions, (std::vector<std::string>{"chrome / Default", "chrome / Profile 1",
                                                    "firefox / work", "other", "locked"}));
  ASSERT_EQ(catalog.blockedBrowsers().size(), 1u);
  EXPECT_EQ(catalog.blockedBrowsers()[0].definition.id, "locked");
}

TEST(BrowserCatalog, ProfileAndAvatarLookups) {
  auto catalog = sampleCatalog();
  EXPECT_EQ(catalog.profile({"chrome", "Profile 1"})->name, "Plain");
  EXPECT_EQ(catalog.profile({"chrome"}), nullptr);
  EXPECT_EQ(catalog.profile({"chrome", "work"}), nullptr);
  EXPECT_EQ(catalog.profile({"missing", "Default"}), nullptr);

  const struct {
    BrowserTarget target;
    std::optional<ProfileAvatar> expected;
  } cases[] = {
      {{"chrome", "Default"}, ProfileAvatar{"P", 0xFF112233u, 0xFF000000u, "/p/pic.png"}},
      {{"chrome", "Profile 1"},
       ProfileAvatar{"P", ProfileAvatar::stableColor("Plain"), ProfileAvatar::white, std::nullopt}},
      {{"firefox", "work", "2"},
       ProfileAvatar{"W", 0xFFFF9F00u, ProfileAvatar::white, std::nullopt}},
      {{"firefox", "work", "6"},
       ProfileAvatar{"C", ProfileAvatar::stableColor("Client A"), ProfileAvatar::white,
                     std::nullopt}},
      {{"firefox", "work", "7"},
       ProfileAvatar{"O", ProfileAvatar::stableColor("Odd"), ProfileAvatar::white, std::nullopt}},
      // An unknown container falls back to the profile itself.
      {{"firefox", "work", "9"},
       ProfileAvatar{"W", ProfileAvatar::stableColor("work"), ProfileAvatar::white, std::nullopt}},
      {{"other"}, std::nullopt},
      {{"chrome", "nope"}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target.description());
    EXPECT_EQ(catalog.avatar(c.target), c.expected);
  }
}

TEST(BrowserCatalog, BrowserIDPrefersAMatchingExplicitDataFolder) {
  testing::ScopedEnvironment home("HOME", "/home/u");
  BrowserCatalog catalog{{
      CatalogBrowser{
          definition("org.chromium.Chromium", BrowserFamily::chromium, "/home/u/.config/chromium"),
          {},
          false},
      CatalogBrowser{
          definition("work-chromium", BrowserFamily::chromium, "/home/u/work/", true), {}, false},
  }};
  EXPECT_EQ(catalog.browserID("org.chromium.Chromium", "~/work"), "work-chromium");
  EXPECT_EQ(catalog.browserID("org.chromium.Chromium", "/home/u/./work/x/.."), "work-chromium");
  // Only explicit data folders identify an instance.
  EXPECT_EQ(catalog.browserID("org.chromium.Chromium", "/home/u/.config/chromium"),
            "org.chromium.Chromium");
  EXPECT_EQ(catalog.browserID("org.chromium.Chromium", std::nullopt), "org.chromium.Chromium");
  EXPECT_EQ(catalog.browserID("com.unknown", "/elsewhere"), std::nullopt);
}

TEST(BrowserCatalog, CustomDefinitionsFileFailsWholeOnOneBadEntry) {
  TemporaryDirectory folder;
  EXPECT_TRUE(BrowserCatalog::loadCustomDefinitions(folder.path() / "browsers.json").empty());

  const fs::path file = folder.write("browsers.json", R"([
    {"id":"a","name":"A","family":"chromium","appPath":"/a","dataDir":"/d","explicitUserDataDir":true},
    {"id":"b","name":"B","family":"safari"}
  ])");
  try {
    BrowserCatalog::loadCustomDefinitions(file);
    FAIL() << "no error";
  } catch (const JsonError& error) {
    EXPECT_EQ(std::string(error.what()), file.string() + ": [1]: missing key \"appPath\"");
  }
  folder.write("browsers.json", R"({"id":"a"})");
  EXPECT_THROW(BrowserCatalog::loadCustomDefinitions(file), JsonError);
  folder.write("browsers.json", R"([{"id":"a","name":"A","family":"other","appPath":"/a"}])");
  EXPECT_EQ(BrowserCatalog::loadCustomDefinitions(file).size(), 1u);
}

TEST(BrowserCatalog, LinuxDiscoveryUsesTheKnownTableAndTheSearchPath) {
  TemporaryDirectory home;
  home.write(".mozilla/firefox/profiles.ini", "[Profile0]\nName=legacy\nIsRelative=1\nPath=l\n");
  auto entry = [](std::string id, std::vector<std::string> exec) {
    return DesktopEntry{std::move(id), "Entry " + exec[0], std::move(exec), {}, false, "/f"};
  };
  const std::vector<DesktopEntry> entries = {
      entry("firefox-esr", {"firefox-esr", "--class", "x"}),
      entry("chromium", {"/usr/bin/chromium"}),
      entry("org.example.Tool", {"tool"}),
      entry("google-chrome", {"google-chrome-stable"}),
  };
  auto isExecutable = [](const std::string& path) { return path == "/opt/bin/firefox-esr"; };
  auto catalog = BrowserCatalog::discover(entries, {definition("chromium")}, home.path(),
                                          "/opt/bin", isExecutable);
  ASSERT_EQ(catalog.browsers.size(), 4u);
  const BrowserDefinition& firefox = catalog.browsers[0].definition;
  EXPECT_EQ(firefox.name, "Firefox");
  EXPECT_EQ(firefox.appPath, "/opt/bin/firefox-esr");
  EXPECT_EQ(firefox.launchArguments, (std::vector<std::string>{"--class", "x"}));
  // The legacy root is used because only it has a profiles.ini.
  EXPECT_EQ(firefox.dataDir, (home.path() / ".mozilla/firefox").string());
  EXPECT_EQ(catalog.browsers[0].profiles.size(), 1u);
  EXPECT_EQ(catalog.browsers[1].definition, definition("chromium"));  // replaced by custom
  EXPECT_EQ(catalog.browsers[2].definition.name, "Entry tool");
  EXPECT_EQ(catalog.browsers[2].definition.appPath, "tool");  // not on the search path
  EXPECT_EQ(catalog.browsers[2].definition.family, BrowserFamily::other);
  EXPECT_EQ(catalog.browsers[3].definition.dataDir,
            (home.path() / ".config/google-chrome").string());
}

TEST(BrowserCatalog, TwoBuildsOfOneKnownBrowserKeepTheirEntryNames) {
  TemporaryDirectory home;
  auto entry = [](std::string id, std::string name) {
    return DesktopEntry{std::move(id), std::move(name), {"/usr/bin/" + id}, {}, false, "/f"};
  };
  auto isExecutable = [](const std::string&) { return true; };
  auto both = BrowserCatalog::discover({entry("firefox", "Firefox"), entry("firefox-esr", "Firefox ESR")},
                                       {}, home.path(), std::nullopt, isExecutable);
  ASSERT_EQ(both.browsers.size(), 2u);
  EXPECT_EQ(both.browsers[0].definition.name, "Firefox");
  EXPECT_EQ(both.browsers[1].definition.name, "Firefox ESR");
  auto one = BrowserCatalog::discover({entry("firefox-esr", "Firefox ESR")}, {}, home.path(),
                                      std::nullopt, isExecutable);
  EXPECT_EQ(one.browsers[0].definition.name, "Firefox");
}

TEST(KnownLinuxBrowsers, DataFolderIsTheFirstWithAnIndexFileElseTheFirst) {
  TemporaryDirectory home;
  const auto* firefox = KnownLinuxBrowsers::entry("firefox");
  ASSERT_NE(firefox, nullptr);
  EXPECT_EQ(KnownLinuxBrowsers::entry("firefox-esr"), firefox);
  EXPECT_EQ(KnownLinuxBrowsers::dataDir(*firefox, home.path()),
            (home.path() / ".config/mozilla/firefox").string());
  home.write(".mozilla/firefox/profiles.ini", "");
  home.write(".config/mozilla/firefox/profiles.ini", "");
  EXPECT_EQ(KnownLinuxBrowsers::dataDir(*firefox, home.path()),
            (home.path() / ".config/mozilla/firefox").string());
  EXPECT_EQ(KnownLinuxBrowsers::entry("Firefox"), nullptr);
}

TEST(BrowserCatalog, FindsTheInstalledDebianBrowsers) {
  const fs::path applications = "/usr/share/applications";
  for (const char* file : {"chromium.desktop", "firefox-esr.desktop"}) {
    if (!fs::exists(applications / file))
      GTEST_SKIP() << (applications / file) << " is not installed";
  }
  TemporaryDirectory home;
  auto entries = DesktopEntries::httpHandlers(DesktopEntries::load({applications}), std::nullopt);
  auto catalog = BrowserCatalog::discover(entries, {}, home.path(), "/usr/bin:/bin",
                                          [](const std::string& path) { return fs::exists(path); });
  const CatalogBrowser* chromium = catalog.browser("chromium");
  const CatalogBrowser* firefox = catalog.browser("firefox-esr");
  ASSERT_NE(chromium, nullptr);
  ASSERT_NE(firefox, nullptr);
  EXPECT_EQ(chromium->definition.family, BrowserFamily::chromium);
  EXPECT_EQ(chromium->definition.appPath, "/usr/bin/chromium");
  EXPECT_TRUE(chromium->definition.launchArguments.empty());
  EXPECT_EQ(firefox->definition.family, BrowserFamily::firefox);
  EXPECT_EQ(firefox->definition.appPath, "/usr/lib/firefox-esr/firefox-esr");
  EXPECT_EQ(firefox->definition.dataDir, (home.path() / ".config/mozilla/firefox").string());
}

TEST(BrowserCatalogResolve, NamesAsTheBrowsersListShowsThemInAnyCase) {
  TemporaryDirectory home;
  const BrowserCatalog catalog = fixtures::realShapedCatalog(home.path());
  ASSERT_EQ(ids(catalog), (std::vector<std::string>{"firefox-esr", "chromium"}));
  struct Case {
    BrowserTarget written;
    BrowserTarget resolved;
    std::vector<std::string> renamed;
  };
  const std::vector<Case> cases = {
      {{"firefox-esr", "work", "3"}, {"firefox-esr", "work", "3"}, {}},
      {{"firefox"}, {"firefox-esr"}, {"browser \"firefox\" is \"firefox-esr\""}},
      {{"Firefox"}, {"firefox-esr"}, {"browser \"Firefox\" is \"firefox-esr\""}},
      {{"CHROMIUM", "work"},
       {"chromium", "Profile 1"},
       {"browser \"CHROMIUM\" is \"chromium\"", "profile \"work\" is \"Profile 1\""}},
      {{"chromium-browser", "personal"},
       {"chromium", "Default"},
       {"browser \"chromium-browser\" is \"chromium\"", "profile \"personal\" is \"Default\""}},
      {{"chromium", "profile 1"}, {"chromium", "Profile 1"}, {"profile \"profile 1\" is \"Profile 1\""}},
      // Firefox: the profile folder's name, and containers by name with or without the profile.
      {{"firefox-esr", "bkgg8wl9.default-esr"},
       {"firefox-esr", "default-esr"},
       {"profile \"bkgg8wl9.default-esr\" is \"default-esr\""}},
      {{"firefox-esr", "Work", "banking"},
       {"firefox-esr", "work", "3"},
       {"profile \"Work\" is \"work\"", "container \"banking\" is \"3\""}},
      {{"firefox-esr", std::nullopt, "client a", true},
       {"firefox-esr", std::nullopt, "6", true},
       {"container \"client a\" is \"6\""}},
      // What is not there stays as written, for the check to name it.
      {{"opera", "x"}, {"opera", "x"}, {}},
      {{"chromium", "Guest"}, {"chromium", "Guest"}, {}},
      {{"firefox-esr", "personal", "Banking"}, {"firefox-esr", "personal", "Banking"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written.description());
    const TargetResolution resolution = catalog.resolve(c.written);
    EXPECT_EQ(resolution.target, c.resolved);
    EXPECT_EQ(resolution.renamed, c.renamed);
    EXPECT_TRUE(resolution.ambiguous.empty());
  }
}

TEST(BrowserCatalogResolve, AnExactIdentifierWinsAndAnAmbiguousNameSaysWhichIsUsed) {
  CatalogBrowser chromium{definition("chromium", BrowserFamily::chromium), {}};
  chromium.profiles = {BrowserProfile{"Default", "Work", "/c/Default"},
                       BrowserProfile{"Profile 1", "work", "/c/Profile 1"},
                       BrowserProfile{"Work", "Other", "/c/Work"}};
  CatalogBrowser esr{definition("firefox-esr", BrowserFamily::firefox), {}};
  CatalogBrowser flatpak{definition("org.mozilla.firefox", BrowserFamily::firefox), {}};
  flatpak.definition.name = "Firefox";
  const BrowserCatalog catalog{{chromium, esr, flatpak}};

  // "Work" is the third profile's own identifier: no name is looked at.
  const TargetResolution exact = catalog.resolve({"chromium", "Work"});
  EXPECT_EQ(exact.target.profile, "Work");
  EXPECT_TRUE(exact.ambiguous.empty());

  const TargetResolution named = catalog.resolve({"chromium", "WORK"});
  EXPECT_EQ(named.target.profile, "Work");  // the identifier, compared without case
  CatalogBrowser onlyNames = chromium;
  onlyNames.profiles.pop_back();
  const TargetResolution twice = BrowserCatalog{{onlyNames}}.resolve({"chromium", "work"});
  EXPECT_EQ(twice.target.profile, "Default");
  EXPECT_EQ(twice.ambiguous, (std::vector<std::string>{
                                 "profile name \"work\" fits \"Default\", \"Profile 1\": "
                                 "\"Default\" is used"}));

  // Both Firefox builds answer to "firefox"; the first in catalog order is used.
  const TargetResolution firefox = catalog.resolve({"firefox"});
  EXPECT_EQ(firefox.target.browser, "firefox-esr");
  EXPECT_EQ(firefox.ambiguous,
            (std::vector<std::string>{"browser name \"firefox\" fits \"firefox-esr\", "
                                      "\"org.mozilla.firefox\": \"firefox-esr\" is used"}));
}

TEST(KnownLinuxBrowsers, CommonNamesOfOneBrowser) {
  EXPECT_EQ(KnownLinuxBrowsers::commonNames("firefox-esr"),
            (std::vector<std::string>{"firefox"}));
  EXPECT_EQ(KnownLinuxBrowsers::commonNames("google-chrome"),
            (std::vector<std::string>{"google chrome", "chrome"}));
  EXPECT_EQ(KnownLinuxBrowsers::commonNames("com.google.Chrome"),
            (std::vector<std::string>{"google chrome", "chrome", "google-chrome"}));
  EXPECT_TRUE(KnownLinuxBrowsers::commonNames("org.example.Tool").empty());
}

}  // namespace
}  // namespace linkferry
