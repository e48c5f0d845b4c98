#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launching/CurrentTabSupport.h"
#include "launching/LaunchCommand.h"
#include "launching/LaunchError.h"

namespace linkferry {
namespace {

using Arguments = std::vector<std::string>;
using Reason = CurrentTabSupport::Reason;

const char* kLink = "https://example.test/page";

URL link() {
  return *URL::parse(kLink);
}

CatalogBrowser browser(std::string id, std::string name, BrowserFamily family, std::string app,
                       int profiles = 0) {
  CatalogBrowser result;
  result.definition.id = std::move(id);
  result.definition.name = std::move(name);
  result.definition.family = family;
  result.definition.appPath = std::move(app);
  for (int i = 0; i < profiles; ++i) {
    BrowserProfile profile;
    profile.id = i == 0 ? "Default" : "Profile " + std::to_string(i);
    result.profiles.push_back(profile);
  }
  return result;
}

BrowserCatalog catalog() {
  BrowserCatalog result;
  result.browsers.push_back(
      browser("com.apple.Safari", "Safari", BrowserFamily::safari, "/Applications/Safari.app", 1));
  result.browsers.push_back(browser("com.google.Chrome", "Google Chrome", BrowserFamily::chromium,
                                    "/Applications/Google Chrome.app", 2));
  result.browsers.push_back(browser("com.brave.Browser", "Brave", BrowserFamily::chromium,
                                    "/Applications/Brave Browser.app", 1));
  result.browsers.push_back(browser("org.mozilla.firefox", "Firefox", BrowserFamily::firefox,
                                    "/Applications/Firefox.app"));
  CatalogBrowser own = browser("com.vivaldi.Vivaldi", "Vivaldi", BrowserFamily::chromium,
                               "/Applications/Vivaldi.app");
  own.definition.explicitUserDataDir = true;
  own.definition.dataDir = "/Users/me/Vivaldi";
  result.browsers.push_back(own);
  // A custom instance of Edge under its own identifier: Edge's windows may be this one's.
  result.browsers.push_back(browser("com.microsoft.edgemac", "Microsoft Edge",
                                    BrowserFamily::chromium, "/Applications/Microsoft Edge.app"));
  CatalogBrowser custom = browser("edge-work", "Edge Work", BrowserFamily::chromium,
                                  "/Applications/Microsoft Edge.app");
  custom.definition.explicitUserDataDir = true;
  custom.definition.dataDir = "/Users/me/Edge Work";
  result.browsers.push_back(custom);
  return result;
}

BrowserTarget target(std::string id, bool privateMode = false) {
  return BrowserTarget{std::move(id), std::nullopt, std::nullopt, privateMode};
}

TEST(CurrentTab, ScriptIsFixedLineByLineAndNeverHoldsTheLink) {
  const Arguments foreground =
      LaunchCommand::currentTabScript("com.apple.Safari", "current tab", false);
  EXPECT_EQ(
      foreground,
      (Arguments{
          "on run argv",
          "if not (application id \"com.apple.Safari\" is running) then error \"not running\"",
          "with timeout of 10 seconds",
          "tell application id \"com.apple.Safari\"",
          "if (count of windows) is 0 then error \"no window\"",
          "set URL of current tab of front window to item 1 of argv",
          "activate",
          "end tell",
          "end timeout",
          "end run",
      }));
  Arguments background = foreground;
  background.erase(background.begin() + 6);
  EXPECT_EQ(LaunchCommand::currentTabScript("com.apple.Safari", "current tab", true), background);
}

TEST(CurrentTab, TabPropertyByBundleIdentifier) {
  struct Case {
    const char* bundleID;
    std::optional<std::string_view> property;
  } cases[] = {
      {"com.apple.Safari", "current tab"},
      {"com.kagi.kagimacOS", "current tab"},
      {"com.google.Chrome.canary", "active tab"},
      {"company.thebrowser.Browser", "active tab"},
      {"com.microsoft.edgemac.Dev", "active tab"},
      {"org.mozilla.firefox", std::nullopt},
      {"com.google.chrome", std::nullopt},  // exact identifiers only
      {"", std::nullopt},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.bundleID);
    EXPECT_EQ(LaunchCommand::tabProperty(test.bundleID), test.property);
  }
}

TEST(CurrentTab, SupportFollowsTheFirstRuleThatApplies) {
  const BrowserCatalog browsers = catalog();
  struct Case {
    BrowserTarget target;
    LaunchPlatform platform;
    CurrentTabSupport support;
  } cases[] = {
      {target("com.apple.Safari"), LaunchPlatform::macOS, CurrentTabSupport::available()},
      {target("com.brave.Browser"), LaunchPlatform::macOS, CurrentTabSupport::available()},
      {target("com.apple.Safari", true), LaunchPlatform::macOS,
       CurrentTabSupport::unavailable(Reason::privateWindow)},
      // Private wins even over Linux and unknown browsers.
      {target("nothing", true), LaunchPlatform::linux,
       CurrentTabSupport::unavailable(Reason::privateWindow)},
      {target("com.apple.Safari"), LaunchPlatform::linux,
       CurrentTabSupport::unavailable(Reason::notScriptable)},
      {target("nothing"), LaunchPlatform::macOS,
       CurrentTabSupport::unavailable(Reason::notScriptable)},
      {target("org.mozilla.firefox"), LaunchPlatform::macOS,
       CurrentTabSupport::unavailable(Reason::notScriptable)},
      {target("com.google.Chrome"), LaunchPlatform::macOS,
       CurrentTabSupport::unavailable(Reason::severalProfiles)},
      {target("com.vivaldi.Vivaldi"), LaunchPlatform::macOS,
       CurrentTabSupport::unavailable(Reason::separateInstance)},
      // Both instances of one application: the custom one is scriptable through the known one.
      {target("com.microsoft.edgemac"), LaunchPlatform::macOS,
       CurrentTabSupport::unavailable(Reason::separateInstance)},
      {target("edge-work"), LaunchPlatform::macOS,
       CurrentTabSupport::unavailable(Reason::separateInstance)},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.target.description() + " on " + std::string(toString(test.platform)));
    EXPECT_EQ(LaunchCommand::currentTabSupport(test.target, browsers, test.platform), test.support);
  }
}

TEST(CurrentTab, PlanRunsTheScriptWithTheNewTabPlanAsItsFallback) {
  for (bool background : {false, true}) {
    SCOPED_TRACE(background ? "background" : "foreground");
    const OpenOptions options{OpenIn::currentTab, background};
    auto plan = LaunchCommand::plan(RouteTarget::open(target("com.brave.Browser")), link(),
                                    catalog(), options, LaunchPlatform::macOS);
    ASSERT_TRUE(plan);
    const Arguments script =
        LaunchCommand::currentTabScript("com.brave.Browser", "active tab", background);
    Arguments expected;
    for (const std::string& line : script) {
      expected.push_back("-e");
      expected.push_back(line);
    }
    expected.push_back(kLink);
    EXPECT_EQ(plan->executable, "/usr/bin/osascript");
    EXPECT_EQ(plan->arguments, expected);
    EXPECT_EQ(plan->fallbackNote, "current tab could not be used, opened in a new tab");
    const auto newTab =
        LaunchCommand::plan(RouteTarget::open(target("com.brave.Browser")), link(), catalog(),
                            OpenOptions{OpenIn::newTab, background}, LaunchPlatform::macOS);
    ASSERT_TRUE(newTab);
    EXPECT_EQ(plan->fallbacks, std::vector<LaunchPlan>{*newTab});
    EXPECT_EQ(plan->warnings, newTab->warnings);
    EXPECT_EQ(newTab->arguments.front() == "-g", background);
  }
}

TEST(CurrentTab, UnavailableCurrentTabGivesTheNewTabPlanWithTheReason) {
  struct Case {
    BrowserTarget target;
    Arguments warnings;
  } cases[] = {
      {target("com.google.Chrome"),
       {"current tab is not available for Google Chrome (several profiles, the front window may "
        "belong to another one): opened in a new tab"}},
      {target("com.vivaldi.Vivaldi"),
       {"current tab is not available for Vivaldi (another instance runs the same app): opened "
        "in a new tab"}},
      {target("org.mozilla.firefox"),
       {"current tab is not available for Firefox (no AppleScript support for tabs): opened in a "
        "new tab"}},
      // Private targets open a new private window without a word.
      {target("com.apple.Safari", true), {"private mode is not supported for Safari"}},
      {target("com.google.Chrome", true), {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.target.description());
    const RouteTarget route = RouteTarget::open(test.target);
    auto plan = LaunchCommand::plan(route, link(), catalog(), OpenOptions{OpenIn::currentTab, true},
                                    LaunchPlatform::macOS);
    auto newTab = LaunchCommand::plan(route, link(), catalog(), OpenOptions{OpenIn::newTab, true},
                                      LaunchPlatform::macOS);
    ASSERT_TRUE(plan && newTab);
    EXPECT_EQ(plan->warnings, test.warnings);
    plan->warnings = newTab->warnings;
    EXPECT_EQ(*plan, *newTab);
  }
  EXPECT_THROW(LaunchCommand::currentTabPlan(target("nothing"), link(), catalog(), OpenOptions{}),
               LaunchError);
}

}  // namespace
}  // namespace linkferry
