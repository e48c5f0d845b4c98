#include "settings/AppSettings.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "foundation/Files.h"
#include "settings/AlternativeBrowser.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

BrowserTarget target(const char* browser, const char* profile = nullptr) {
  BrowserTarget value{browser};
  if (profile) value.profile = profile;
  return value;
}

TEST(AppSettings, MissingEmptyAndUnknownFilesGiveTheDefaults) {
  TemporaryDirectory folder;
  EXPECT_EQ(AppSettings::load(folder.path() / "settings.json"), AppSettings{});
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "settings.json"));
  EXPECT_EQ(AppSettings::load(folder.write("empty.json", "{}")), AppSettings{});
  EXPECT_EQ(AppSettings::load(folder.write("unknown.json", R"({"colour": "red", "alwaysAsk": null})")),
            AppSettings{});
  EXPECT_EQ(AppSettings::jsonKeys().size(), 41u);
}

TEST(AppSettings, SavesSortedPrettyFileThatLoadsBackEqual) {
  TemporaryDirectory folder;
  const auto file = folder.path() / "nested" / "settings.json";
  AppSettings plain;
  plain.save(file);
  std::string text = Files::read(file);
  EXPECT_EQ(text.find("focusDefault"), std::string::npos);
  EXPECT_EQ(text.find("alternativeBrowser"), std::string::npos);
  EXPECT_NE(text.find("  \"alternativeAction\": \"openAlternative\",\n  \"alternativeModifier\""),
            std::string::npos);
  EXPECT_NE(text.find("\"searchURL\": \"https://www.google.com/search?q=%s\""), std::string::npos);
  EXPECT_NE(text.find("\"openInNewWindow\": false"), std::string::npos);
  EXPECT_EQ(JsonValue::parse(text).size(), 39u);

  AppSettings full{.alwaysAsk = false, .logRetentionDays = -3, .hiddenTargets = {target("a")},
                   .targetOrder = {target("b", "p"), target("a")}};
  full.forceHTTPSExceptions = {"intranet.test"};
  full.appLinkOverrides = {{"zoom", false}};
  full.focusDefault = FocusDefault{target("firefox", "work"), true};
  full.alternativeBrowser = BrowserTarget{"chromium", std::nullopt, std::nullopt, true};
  full.rememberDurations = {{2, RememberDuration::Unit::day}, {3, RememberDuration::Unit::hour}};
  full.openIn = OpenIn::currentTab;
  full.menuBarIconStyle = MenuBarIconStyle::arrow;
  full.desktopNotifications = false;
  full.alternativeModifier = AlternativeModifier::shiftCommand;
  full.save(file);
  AppSettings loaded = AppSettings::load(file);
  // The durations come back in order of length.
  EXPECT_EQ(loaded.rememberDurations,
            (std::vector<RememberDuration>{{3, RememberDuration::Unit::hour},
                                           {2, RememberDuration::Unit::day}}));
  loaded.rememberDurations = full.rememberDurations;
  EXPECT_EQ(loaded, full);
  EXPECT_EQ(std::hash<AppSettings>()(loaded), std::hash<AppSettings>()(full));
  EXPECT_NE(Files::read(file).find("\"openInNewWindow\": false"), std::string::npos);
}

TEST(AppSettings, ClampsNumbersAndHonoursTheLegacyWindowKey) {
  struct Case {
    const char* json;
    std::int64_t visibleCount, columns;
    OpenIn openIn;
  };
  const Case cases[] = {
      {R"({"pickerVisibleCount": 3, "pickerColumns": -1})", 4, 0, OpenIn::newTab},
      {R"({"pickerVisibleCount": 25, "pickerColumns": 9})", 20, 4, OpenIn::newTab},
      {R"({"pickerVisibleCount": 7.0, "openInNewWindow": true})", 7, 0, OpenIn::newWindow},
      {R"({"openInNewWindow": true, "openIn": "currentTab"})", 10, 0, OpenIn::currentTab},
      {R"({"openInNewWindow": true, "openIn": "sideways"})", 10, 0, OpenIn::newWindow},
      {R"({"openInNewWindow": false, "openIn": null})", 10, 0, OpenIn::newTab},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.json);
    AppSettings settings = AppSettings::decode(test.json, "settings.json");
    EXPECT_EQ(settings.pickerVisibleCount, test.visibleCount);
    EXPECT_EQ(settings.pickerColumns, test.columns);
    EXPECT_EQ(settings.openIn, test.openIn);
  }
  AppSettings settings;
  settings.openIn = OpenIn::currentTab;
  settings.setOpenInNewWindow(false);
  EXPECT_EQ(settings.openIn, OpenIn::currentTab);
  settings.setOpenInNewWindow(true);
  EXPECT_EQ(settings.openOptions(), (OpenOptions{OpenIn::newWindow, false}));
  settings.setOpenInNewWindow(false);
  EXPECT_EQ(settings.openIn, OpenIn::newTab);
}

// Every key with a value of the wrong type, one at a time: the five forgiving keys fall back to
// their default, every other key fails the load naming the file and the key, and the file stays.
TEST(AppSettings, WrongTypesAreForgivenOnlyWhereAllowed) {
  const std::set<std::string_view> forgiving = {"rememberDurations", "alternativeModifier",
                                                "alternativeAction", "openIn", "menuBarIconStyle"};
  TemporaryDirectory folder;
  for (std::string_view key : AppSettings::jsonKeys()) {
    SCOPED_TRACE(std::string(key));
    const bool booleanKey = AppSettings::expectedValue(key)->starts_with("a boolean");
    JsonValue document = {{std::string(key), booleanKey ? JsonValue("yes") : JsonValue(true)}};
    const std::string text = Json::encodePretty(document);
    const auto file = folder.write("settings.json", text);
    if (forgiving.contains(key)) {
      EXPECT_EQ(AppSettings::load(file), AppSettings{});
      continue;
    }
    try {
      AppSettings::load(file);
      ADD_FAILURE() << "loaded";
    } catch (const JsonError& error) {
      EXPECT_EQ(error.path(), key);
      EXPECT_TRUE(std::string(error.what()).starts_with(file.string() + ": " + std::string(key) +
                                                        ": expected "))
          << error.what();
    }
    EXPECT_EQ(Files::read(file), text);
  }
  // A case name that names nothing is forgiven as well; a bad nested object is not.
  EXPECT_EQ(AppSettings::decode(R"({"menuBarIconStyle": "plaid"})", "s").menuBarIconStyle,
            MenuBarIconStyle::stack);
  EXPECT_THROW(AppSettings::decode(R"({"focusDefault": {"target": {}}})", "s"), JsonError);
  EXPECT_THROW(AppSettings::decode("[]", "s"), JsonError);
  EXPECT_THROW(AppSettings::decode("{", "s"), JsonError);
}

TEST(AppSettings, WithValueChangesOneKeyStrictly) {
  AppSettings settings;
  EXPECT_EQ(settings.withValue("pickerColumns", 4).pickerColumns, 4);
  EXPECT_EQ(settings.withValue("openInNewWindow", true).openIn, OpenIn::newWindow);
  EXPECT_EQ(settings.withValue("openIn", "currentTab").withValue("openInNewWindow", false).openIn,
            OpenIn::currentTab);
  EXPECT_EQ(settings.withValue("menuBarIconStyle", "mono").menuBarIconStyle,
            MenuBarIconStyle::mono);
  AppSettings withBrowser = settings.withValue("alternativeBrowser", {{"browser", "firefox"}});
  EXPECT_EQ(withBrowser.alternativeBrowser, target("firefox"));
  EXPECT_EQ(withBrowser.withValue("alternativeBrowser", nullptr).alternativeBrowser, std::nullopt);

  auto refusal = [&](std::string_view key, const JsonValue& value) -> std::string {
    try {
      settings.withValue(key, value);
    } catch (const SettingsError& error) {
      return error.what();
    }
    return "accepted";
  };
  EXPECT_EQ(refusal("alwaysAsk", "yes"), "alwaysAsk: expected a boolean (true or false), got \"yes\"");
  EXPECT_EQ(refusal("menuBarIconStyle", "plaid"),
            "menuBarIconStyle: expected one of stack, mono, arrow, got \"plaid\"");
  EXPECT_EQ(refusal("colour", "red"), "unknown setting \"colour\"");
  // What the file's reader would clamp or forgive is refused when typed; null is the default.
  const std::pair<std::string_view, JsonValue> outOfRange[] = {
      {"pickerVisibleCount", 3},  {"pickerVisibleCount", 21}, {"pickerVisibleCount", 4.5},
      {"pickerColumns", -1},      {"pickerColumns", 5},       {"logRetentionDays", -1},
      {"searchURL", "https://search.test/?q="}, {"searchURL", ""},
  };
  for (const auto& [key, value] : outOfRange) {
    SCOPED_TRACE(std::string(key) + " = " + value.dump());
    EXPECT_TRUE(refusal(key, value).starts_with(std::string(key) + ": expected "));
  }
  EXPECT_EQ(refusal("pickerVisibleCount", 3),
            "pickerVisibleCount: expected an integer from 4 to 20, got 3");
  EXPECT_EQ(settings.withValue("pickerVisibleCount", 20).pickerVisibleCount, 20);
  EXPECT_EQ(settings.withValue("logRetentionDays", 0).logRetentionDays, 0);
  AppSettings custom = settings.withValue("searchURL", "https://search.test/?q=%s");
  EXPECT_EQ(custom.searchURL, "https://search.test/?q=%s");
  EXPECT_EQ(custom.withValue("searchURL", nullptr).searchURL, AppSettings::kDefaultSearchURL);
  EXPECT_TRUE(refusal("hiddenTargets", JsonValue::array({JsonValue::object()}))
                  .ends_with("got [{}] (hiddenTargets[0]: missing key \"browser\")"));
}

TEST(AppSettings, OrderedTargetsKeepOrderDropHiddenAndUnavailable) {
  AppSettings settings;
  settings.targetOrder = {target("b"), target("x"), target("b")};
  settings.hiddenTargets = {target("c")};
  EXPECT_EQ(settings.orderedTargets({target("a"), target("b"), target("c"), target("a")}),
            (std::vector<BrowserTarget>{target("b"), target("a")}));
}

TEST(AlternativeBrowser, DecidesOnlyWhenTheWholeChordIsHeld) {
  const ModifierKeys command = ModifierKeys::command();
  const ModifierKeys all =
      ModifierKeys::of({ModifierKeys::command(), ModifierKeys::option(), ModifierKeys::shift()});
  AppSettings settings;
  EXPECT_EQ(AlternativeBrowser::decide(command, settings), ClickOverride::none());
  EXPECT_EQ(AlternativeBrowser::decide(all, settings), ClickOverride::pick());
  settings.alternativeBrowser = target("firefox");
  EXPECT_EQ(AlternativeBrowser::decide(all, settings), ClickOverride::open(target("firefox")));
  settings.alternativeAction = AlternativeAction::showPicker;
  EXPECT_EQ(AlternativeBrowser::decide(all, settings), ClickOverride::pick());
  settings.alternativeModifier = AlternativeModifier::off;
  EXPECT_EQ(AlternativeBrowser::decide(all, settings), ClickOverride::none());

  EXPECT_EQ(keys(AlternativeModifier::commandOption).rawValue, 12);
  EXPECT_EQ(keys(AlternativeModifier::shiftOption).rawValue, 5);
  EXPECT_EQ(keys(AlternativeModifier::shiftCommand).rawValue, 9);
  EXPECT_EQ(symbols(AlternativeModifier::shiftCommand), "⇧⌘");
}

}  // namespace
}  // namespace linkferry
