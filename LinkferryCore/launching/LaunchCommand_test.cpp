#include "launching/LaunchCommand.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launching/LaunchError.h"

namespace linkferry {
namespace {

using Arguments = std::vector<std::string>;

const char* kLink = "https://example.test/a?b=1";
const char* kChromeApp = "/Applications/Google Chrome.app";
const char* kFirefoxApp = "/Applications/Firefox.app";
const char* kSafariApp = "/Applications/Safari.app";

URL link(const char* text = kLink) {
  return *URL::parse(text);
}

BrowserProfile profile(std::string id) {
  BrowserProfile result;
  result.id = id;
  result.name = id;
  return result;
}

CatalogBrowser browser(std::string id, std::string name, BrowserFamily family, std::string app,
                       std::vector<std::string> profileIDs = {}) {
  CatalogBrowser result;
  result.definition.id = std::move(id);
  result.definition.name = std::move(name);
  result.definition.family = family;
  result.definition.appPath = std::move(app);
  for (auto& profileID : profileIDs) result.profiles.push_back(profile(profileID));
  return result;
}

BrowserCatalog macCatalog() {
  BrowserCatalog catalog;
  catalog.browsers.push_back(browser("com.google.Chrome", "Google Chrome", BrowserFamily::chromium,
                                     kChromeApp, {"Default", "Profile 1"}));
  catalog.browsers.push_back(browser("org.mozilla.firefox", "Firefox", BrowserFamily::firefox,
                                     kFirefoxApp, {"default-release", "work"}));
  catalog.browsers.push_back(
      browser("com.apple.Safari", "Safari", BrowserFamily::safari, kSafariApp));
  CatalogBrowser separate =
      browser("chrome-work", "Chrome Work", BrowserFamily::chromium, kChromeApp, {"Default"});
  separate.definition.dataDir = "/Users/me/Chrome Work";
  separate.definition.explicitUserDataDir = true;
  catalog.browsers.push_back(separate);
  CatalogBrowser known = browser("com.brave.Browser", "Brave", BrowserFamily::chromium,
                                 "/Applications/Brave Browser.app");
  known.definition.dataDir = "/Users/me/Library/Application Support/BraveSoftware/Brave-Browser";
  catalog.browsers.push_back(known);
  return catalog;
}

BrowserTarget target(std::string id, std::optional<std::string> profileID = std::nullopt,
                     bool privateMode = false,
                     std::optional<std::string> container = std::nullopt) {
  return BrowserTarget{std::move(id), std::move(profileID), std::move(container), privateMode};
}

LaunchPlan macPlan(const BrowserTarget& browserTarget, OpenOptions options,
                   const BrowserCatalog& catalog = macCatalog()) {
  auto plan = LaunchCommand::plan(RouteTarget::open(browserTarget), link(), catalog, options,
                                  LaunchPlatform::macOS);
  EXPECT_TRUE(plan.has_value());
  return plan.value_or(LaunchPlan{});
}

TEST(LaunchCommand, BuildsTheOpenCommandLineOfEachFamily) {
  const OpenOptions newTab{OpenIn::newTab, false};
  const OpenOptions newWindow{OpenIn::newWindow, false};
  const OpenOptions background{OpenIn::newTab, true};
  struct Case {
    const char* name;
    BrowserTarget target;
    OpenOptions options;
    Arguments arguments;
    Arguments warnings = {};
  } cases[] = {
      {"chromium profile in the background",
       target("com.google.Chrome", "Profile 1"),
       background,
       {"-g", "-na", kChromeApp, "--args", "--profile-directory=Profile 1", kLink}},
      {"chromium private new window: fixed flag order",
       target("com.google.Chrome", "Profile 1", true),
       newWindow,
       {"-na", kChromeApp, "--args", "--profile-directory=Profile 1", "--incognito", "--new-window",
        kLink}},
      {"chromium without profile",
       target("com.google.Chrome"),
       newTab,
       {"-na", kChromeApp, "--args", kLink}},
      {"chromium drops a container silently",
       target("com.google.Chrome", "Default", false, "c1"),
       newTab,
       {"-na", kChromeApp, "--args", "--profile-directory=Default", kLink}},
      {"separate instance passes its data folder first",
       target("chrome-work", "Default", true),
       newTab,
       {"-na", kChromeApp, "--args", "--user-data-dir=/Users/me/Chrome Work",
        "--profile-directory=Default", "--incognito", kLink}},
      {"known data folder without explicit flag is not passed",
       target("com.brave.Browser"),
       newTab,
       {"-na", "/Applications/Brave Browser.app", "--args", kLink}},
      {"firefox private ignores new window",
       target("org.mozilla.firefox", "work", true),
       newWindow,
       {"-na", kFirefoxApp, "--args", "-P", "work", "--private-window", kLink}},
      {"firefox new window",
       target("org.mozilla.firefox"),
       newWindow,
       {"-na", kFirefoxApp, "--args", "--new-window", kLink}},
      {"firefox container warns and opens a new tab",
       target("org.mozilla.firefox", "work", false, "2"),
       background,
       {"-g", "-na", kFirefoxApp, "--args", "-P", "work", "--new-tab", kLink},
       {std::string(LaunchCommand::kContainerWarning)}},
      {"safari private new window warns twice, private first",
       target("com.apple.Safari", {}, true),
       newWindow,
       {"-a", kSafariApp, kLink},
       {"private mode is not supported for Safari",
        "new window is not supported for Safari (its own setting decides)"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const LaunchPlan plan = macPlan(test.target, test.options);
    EXPECT_EQ(plan.executable, "/usr/bin/open");
    EXPECT_EQ(plan.arguments, test.arguments);
    EXPECT_EQ(plan.warnings, test.warnings);
    EXPECT_TRUE(plan.fallbacks.empty());
    EXPECT_FALSE(plan.fallbackNote.has_value());
  }
}

TEST(LaunchCommand, AppTargetsOpenWithTheBundleIdentifier) {
  const BrowserCatalog catalog = macCatalog();
  const URL rewritten = link("zoommtg://zoom.us/join?confno=1");
  auto openLink =
      LaunchCommand::plan(RouteTarget::openLink(rewritten, "us.zoom.xos"), link(), catalog,
                          OpenOptions{OpenIn::newTab, true}, LaunchPlatform::macOS);
  ASSERT_TRUE(openLink);
  EXPECT_EQ(openLink->arguments,
            (Arguments{"-g", "-b", "us.zoom.xos", "zoommtg://zoom.us/join?confno=1"}));

  // The app is not looked up in the catalog: apps are not browsers.
  auto openInApp = LaunchCommand::plan(RouteTarget::openInApp("com.figma.Desktop"), link(), catalog,
                                       OpenOptions{}, LaunchPlatform::macOS);
  ASSERT_TRUE(openInApp);
  EXPECT_EQ(*openInApp, LaunchPlan("/usr/bin/open", {"-b", "com.figma.Desktop", kLink}, {}));

  for (LaunchPlatform platform : allLaunchPlatforms) {
    EXPECT_FALSE(
        LaunchCommand::plan(RouteTarget::ignore(), link(), catalog, OpenOptions{}, platform));
  }
}

TEST(LaunchCommand, UnknownBrowsersAndProfilesFailBeforeAnythingRuns) {
  BrowserCatalog catalog = macCatalog();
  CatalogBrowser blocked = browser("com.vivaldi.Vivaldi", "Vivaldi", BrowserFamily::chromium,
                                   "/Applications/Vivaldi.app");
  blocked.dataBlocked = true;
  catalog.browsers.push_back(blocked);
  struct Case {
    BrowserTarget target;
    LaunchError error;
  } cases[] = {
      {target("com.example.Nothing"), LaunchError::unknownBrowser("com.example.Nothing")},
      {target("com.google.Chrome", "Profile 9"),
       LaunchError::unknownProfile("com.google.Chrome", "Profile 9")},
      // Profile identifiers are folder names: compared exactly.
      {target("com.google.Chrome", "default"),
       LaunchError::unknownProfile("com.google.Chrome", "default")},
      {target("com.apple.Safari", "Default"),
       LaunchError::unknownProfile("com.apple.Safari", "Default")},
      // Unreadable data lists no profiles, so every profile target of it fails.
      {target("com.vivaldi.Vivaldi", "Default"),
       LaunchError::unknownProfile("com.vivaldi.Vivaldi", "Default")},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.target.description());
    for (LaunchPlatform platform : allLaunchPlatforms) {
      for (OpenIn openIn : allOpenInCases) {
        SCOPED_TRACE(std::string(toString(platform)) + " " + std::string(toString(openIn)));
        try {
          LaunchCommand::plan(RouteTarget::open(test.target), link(), catalog,
                              OpenOptions{openIn, false}, platform);
          ADD_FAILURE() << "no error";
        } catch (const LaunchError& error) {
          EXPECT_EQ(error, test.error);
        }
        EXPECT_THROW(LaunchCommand::planWithoutURL(test.target, catalog, OpenOptions{openIn, false},
                                                   platform),
                     LaunchError);
      }
    }
  }
  EXPECT_EQ(&LaunchCommand::resolve(target("com.google.Chrome", "Profile 1"), catalog),
            &catalog.browsers[0]);
}

TEST(LaunchCommand, PlanWithoutURLStartsTheBrowserWithoutALink) {
  const OpenOptions newWindowBackground{OpenIn::newWindow, true};
  struct Case {
    BrowserTarget target;
    OpenOptions options;
    Arguments arguments;
    Arguments warnings = {};
  } cases[] = {
      {target("org.mozilla.firefox"), OpenOptions{}, {"-a", kFirefoxApp}},
      {target("org.mozilla.firefox", "work", true),
       newWindowBackground,
       {"-na", kFirefoxApp, "--args", "-P", "work", "--private-window"}},
      {target("com.google.Chrome"), OpenOptions{}, {"-a", kChromeApp}},
      {target("com.google.Chrome", "Default"),
       newWindowBackground,
       {"-na", kChromeApp, "--args", "--profile-directory=Default", "--new-window"}},
      {target("chrome-work"),
       OpenOptions{},
       {"-na", kChromeApp, "--args", "--user-data-dir=/Users/me/Chrome Work"}},
      {target("com.apple.Safari", {}, true),
       newWindowBackground,
       {"-a", kSafariApp},
       {"private mode is not supported for Safari"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.target.description());
    EXPECT_EQ(LaunchCommand::planWithoutURL(test.target, macCatalog(), test.options,
                                            LaunchPlatform::macOS),
              LaunchPlan("/usr/bin/open", test.arguments, test.warnings));
  }
}

BrowserCatalog linuxCatalog() {
  BrowserCatalog catalog;
  CatalogBrowser chromium = browser("chromium", "Chromium", BrowserFamily::chromium,
                                    "/usr/bin/chromium", {"Default", "Profile 1"});
  catalog.browsers.push_back(chromium);
  CatalogBrowser flatpak = browser("org.mozilla.firefox", "Firefox", BrowserFamily::firefox,
                                   "/usr/bin/flatpak", {"work"});
  flatpak.definition.launchArguments = {"run", "--branch=stable", "org.mozilla.firefox"};
  catalog.browsers.push_back(flatpak);
  catalog.browsers.push_back(browser("epiphany", "Web", BrowserFamily::other, "/usr/bin/epiphany"));
  return catalog;
}

TEST(LaunchCommand, LinuxRunsTheDesktopEntryProgramWithItsOwnArguments) {
  const std::string bg(LaunchCommand::kLinuxBackgroundWarning);
  const std::string tab(LaunchCommand::kLinuxCurrentTabWarning);
  struct Case {
    const char* name;
    RouteTarget target;
    OpenOptions options;
    LaunchPlan plan;
  } cases[] = {
      {"background current tab: two warnings, background first",
       RouteTarget::open(target("chromium", "Profile 1")), OpenOptions{OpenIn::currentTab, true},
       LaunchPlan("/usr/bin/chromium", {"--profile-directory=Profile 1", kLink}, {bg, tab})},
      {"private current tab: no current-tab warning",
       RouteTarget::open(target("chromium", {}, true)), OpenOptions{OpenIn::currentTab, false},
       LaunchPlan("/usr/bin/chromium", {"--incognito", kLink}, {})},
      {"chromium new window", RouteTarget::open(target("chromium", "Default", true)),
       OpenOptions{OpenIn::newWindow, false},
       LaunchPlan("/usr/bin/chromium",
                  {"--profile-directory=Default", "--incognito", "--new-window", kLink}, {})},
      {"flatpak firefox keeps Exec arguments first",
       RouteTarget::open(target("org.mozilla.firefox", "work", false, "3")), OpenOptions{},
       LaunchPlan(
           "/usr/bin/flatpak",
           {"run", "--branch=stable", "org.mozilla.firefox", "-P", "work", "--new-tab", kLink},
           {std::string(LaunchCommand::kContainerWarning)})},
      {"other browser private new window", RouteTarget::open(target("epiphany", {}, true)),
       OpenOptions{OpenIn::newWindow, false},
       LaunchPlan("/usr/bin/epiphany", {kLink},
                  {"private mode is not supported for Web",
                   "new window is not supported for Web (its own setting decides)"})},
      {"app through gtk-launch", RouteTarget::openInApp("org.gnome.Maps"), OpenOptions{},
       LaunchPlan("/usr/bin/env", {"gtk-launch", "org.gnome.Maps", kLink}, {})},
      {"rewritten link through gtk-launch in the background",
       RouteTarget::openLink(link("zoommtg://zoom.us/join"), "Zoom"), OpenOptions{{}, true},
       LaunchPlan("/usr/bin/env", {"gtk-launch", "Zoom", "zoommtg://zoom.us/join"}, {bg})},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    // `plan` on Linux and `linuxPlan` are the same builder.
    EXPECT_EQ(LaunchCommand::plan(test.target, link(), linuxCatalog(), test.options,
                                  LaunchPlatform::linux),
              test.plan);
    EXPECT_EQ(LaunchCommand::linuxPlan(test.target, link(), linuxCatalog(), test.options),
              test.plan);
  }
}

TEST(LaunchCommand, LinuxPlanWithoutURLIgnoresBackgroundAndCurrentTab) {
  const OpenOptions currentTabBackground{OpenIn::currentTab, true};
  EXPECT_EQ(LaunchCommand::planWithoutURL(target("chromium", "Default", true), linuxCatalog(),
                                          currentTabBackground, LaunchPlatform::linux),
            LaunchPlan("/usr/bin/chromium", {"--profile-directory=Default", "--incognito"}, {}));
  EXPECT_EQ(LaunchCommand::linuxPlanWithoutURL(target("chromium"), linuxCatalog(),
                                               OpenOptions{OpenIn::newWindow, true}),
            LaunchPlan("/usr/bin/chromium", {"--new-window"}, {}));
  EXPECT_EQ(
      LaunchCommand::linuxPlanWithoutURL(target("org.mozilla.firefox", "work", true),
                                         linuxCatalog(), OpenOptions{}),
      LaunchPlan(
          "/usr/bin/flatpak",
          {"run", "--branch=stable", "org.mozilla.firefox", "-P", "work", "--private-window"}, {}));
  EXPECT_EQ(LaunchCommand::linuxPlanWithoutURL(target("epiphany", {}, true), linuxCatalog(),
                                               OpenOptions{}),
            LaunchPlan("/usr/bin/epiphany", {}, {"private mode is not supported for Web"}));
}

// Whatever the target, the link is one argument, the last one: nothing can come after it and it
// can never be taken for a flag.
TEST(LaunchCommand, TheLinkIsAlwaysTheLastArgumentOfEveryPlan) {
  const std::string text = "https://example.test/--incognito?x=--new-window";
  for (LaunchPlatform platform : allLaunchPlatforms) {
    const BrowserCatalog catalog =
        platform == LaunchPlatform::macOS ? macCatalog() : linuxCatalog();
    const std::vector<LaunchPlan> plans =
        LaunchCommand::allPlans(catalog, link(text.c_str()), platform);
    EXPECT_GT(plans.size(), 50u);
    for (const LaunchPlan& plan : plans) {
      SCOPED_TRACE(plan.executable + " " + (plan.arguments.empty() ? "" : plan.arguments[0]));
      const auto count = std::count(plan.arguments.begin(), plan.arguments.end(), text);
      if (count == 0) continue;  // a plan that starts a browser without a link
      EXPECT_EQ(count, 1);
      EXPECT_EQ(plan.arguments.back(), text);
      for (const LaunchPlan& fallback : plan.fallbacks) EXPECT_EQ(fallback.arguments.back(), text);
    }
  }
}

TEST(LaunchCommand, RefusesLinksWithoutAScheme) {
  for (const char* text : {"--incognito", "-P", "example.test/page", "//host/path"}) {
    SCOPED_TRACE(text);
    const URL url = link(text);
    for (LaunchPlatform platform : allLaunchPlatforms) {
      for (OpenIn openIn : allOpenInCases) {
        EXPECT_THROW(LaunchCommand::plan(RouteTarget::open(target("chromium")), url, linuxCatalog(),
                                         OpenOptions{openIn, false}, platform),
                     std::invalid_argument);
      }
      EXPECT_THROW(LaunchCommand::plan(RouteTarget::openInApp("x"), url, linuxCatalog(),
                                       OpenOptions{}, platform),
                   std::invalid_argument);
      EXPECT_THROW(LaunchCommand::plan(RouteTarget::openLink(url, "x"), link(), linuxCatalog(),
                                       OpenOptions{}, platform),
                   std::invalid_argument);
    }
  }
}

}  // namespace
}  // namespace linkferry
