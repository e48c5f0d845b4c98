#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "settings/AppSettings.h"
#include "settings/DecisionLog.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

Process::Result linkferry(const TemporaryDirectory& home, const std::vector<std::string>& arguments) {
  Process::Options options;
  options.captureOutput = true;
  options.environment = std::map<std::string, std::string>{
      {"LINKFERRY_HOME", home.path().string()}, {"HOME", home.path().string()}, {"TZ", "UTC"}};
  return Process::run(testing::linkferryProgram().string(), arguments,
                      options);
}

TEST(SettingsCommand, ShowsAndChangesSettingsRefusingWrongValues) {
  TemporaryDirectory home;
  const auto file = home.path() / "settings.json";
  Process::Result defaults = linkferry(home, {"settings", "--json"});
  ASSERT_EQ(defaults.exitStatus, 0) << defaults.standardError;
  JsonValue shown = JsonValue::parse(defaults.standardOutput);
  EXPECT_EQ(shown["file"], file.string());
  EXPECT_EQ(shown["exists"], false);
  EXPECT_EQ(shown["settings"]["pickerVisibleCount"], 10);

  Process::Result set = linkferry(home, {"settings", "set", "pickerColumns", "3"});
  EXPECT_EQ(set.exitStatus, 0) << set.standardError;
  EXPECT_EQ(set.standardOutput, "pickerColumns = 3 in " + file.string() + "\n");
  EXPECT_EQ(linkferry(home, {"settings", "set", "menuBarIconStyle", "arrow"}).exitStatus, 0);
  EXPECT_EQ(linkferry(home, {"settings", "set", "searchURL", "https://s.test/?q=%s"}).exitStatus, 0);
  EXPECT_EQ(linkferry(home, {"settings", "set", "desktopNotifications", "false"}).exitStatus, 0);
  const std::string saved = Files::read(file);
  EXPECT_NE(saved.find("\"menuBarIconStyle\": \"arrow\""), std::string::npos);
  EXPECT_NE(saved.find("\"desktopNotifications\": false"), std::string::npos);
  // The help names every key with the values it takes.
  EXPECT_NE(linkferry(home, {"settings", "set", "--help"})
                .standardOutput.find("  desktopNotifications: a boolean (true or false)\n"),
            std::string::npos);

  Process::Result wrong = linkferry(home, {"settings", "set", "alwaysAsk", "maybe"});
  EXPECT_EQ(wrong.exitStatus, 1);
  EXPECT_EQ(wrong.standardError, "linkferry: alwaysAsk: expected a boolean (true or false), got "
                                 "\"maybe\"; " + file.string() + " is unchanged\n");
  EXPECT_EQ(linkferry(home, {"settings", "set", "colour", "red"}).exitStatus, 1);
  EXPECT_EQ(Files::read(file), saved);

  // A broken file is reported with its key and left alone, also by `set`.
  home.write("settings.json", R"({"dryRun": 1})");
  Process::Result broken = linkferry(home, {"settings", "set", "dryRun", "true"});
  EXPECT_EQ(broken.exitStatus, 1);
  EXPECT_EQ(broken.standardError,
            "linkferry: " + file.string() + ": dryRun: expected a boolean, got a number\n");
  EXPECT_EQ(Files::read(file), R"({"dryRun": 1})");
}

// A typed value is stored as typed or refused: nothing is clamped behind the user's back.
TEST(SettingsCommand, RefusesValuesOutOfRangeAndNullRestoresTheDefault) {
  TemporaryDirectory home;
  const auto file = home.path() / "settings.json";
  ASSERT_EQ(linkferry(home, {"settings", "set", "searchURL", "https://s.test/?q=%s"}).exitStatus, 0);
  const std::string saved = Files::read(file);
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"pickerVisibleCount", "3"}, "pickerVisibleCount: expected an integer from 4 to 20, got 3"},
      {{"pickerColumns", "9"}, "pickerColumns: expected an integer from 0 (automatic) to 4, got 9"},
      {{"logRetentionDays", "-5"}, "logRetentionDays: expected a number of days, 0 or more, got -5"},
      {{"searchURL", "https://s.test/?q="},
       "searchURL: expected a search address with %s where the words go, such as "
       "\"https://duckduckgo.com/?q=%s\", got \"https://s.test/?q=\""},
  };
  for (const auto& [arguments, message] : refused) {
    SCOPED_TRACE(arguments[0]);
    Process::Result result =
        linkferry(home, {"settings", "set", arguments[0], arguments[1]});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError,
              "linkferry: " + message + "; " + file.string() + " is unchanged\n");
  }
  EXPECT_EQ(Files::read(file), saved);

  Process::Result restored = linkferry(home, {"settings", "set", "searchURL", "null"});
  EXPECT_EQ(restored.exitStatus, 0) << restored.standardError;
  EXPECT_EQ(restored.standardOutput, "searchURL = \"" + std::string(AppSettings::kDefaultSearchURL) +
                                         "\" in " + file.string() + "\n");
}

TEST(LogCommand, ShowsNewestFirstAndClears) {
  TemporaryDirectory home;
  {
    DecisionLog log(home.path() / "log.json", 30, true);
    for (int n = 1; n <= 3; ++n) {
      Uuid id = log.record(LinkRequest(*URL::parse("https://a.test/" + std::to_string(n)),
                                       "com.app", "Window", Date::now()));
      if (n < 3) {
        log.update(id, DecisionStatus::routed, BrowserTarget{"firefox", "work"}, "rule “A”",
                   {"[https] upgraded"});
      }
    }
  }
  Process::Result text = linkferry(home, {"log", "-n", "2"});
  ASSERT_EQ(text.exitStatus, 0) << text.standardError;
  const auto newest = text.standardOutput.find(" pending https://a.test/3\n  from: com.app \"Window\"\n");
  const auto older = text.standardOutput.find(
      " routed https://a.test/2 -> firefox / work\n  from: com.app \"Window\"\n  reason: rule “A”\n"
      "  trace: [https] upgraded\n");
  EXPECT_NE(newest, std::string::npos) << text.standardOutput;
  EXPECT_NE(older, std::string::npos) << text.standardOutput;
  EXPECT_LT(newest, older);
  EXPECT_EQ(text.standardOutput.find("a.test/1"), std::string::npos);

  JsonValue json = JsonValue::parse(linkferry(home, {"log", "--json"}).standardOutput);
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[0]["status"], "pending");
  EXPECT_TRUE(json[0]["receivedAt"].get<std::string>().ends_with("Z"));

  EXPECT_EQ(linkferry(home, {"log", "clear"}).exitStatus, 0);
  EXPECT_EQ(Files::read(home.path() / "log.json"), "[]");

  home.write("log.json", "not json");
  Process::Result corrupt = linkferry(home, {"log"});
  EXPECT_EQ(corrupt.exitStatus, 1);
  EXPECT_TRUE(corrupt.standardError.starts_with("linkferry: unreadable log moved aside: "))
      << corrupt.standardError;
  EXPECT_EQ(Files::read(home.path() / "log.json.corrupt"), "not json");
}

// A window title (an e-mail's subject), an app name or a trace line cannot draw on the
// terminal or forge a line of the log's output.
TEST(LogCommand, ShowsOutsideTextEscaped) {
  TemporaryDirectory home;
  {
    DecisionLog log(home.path() / "log.json", 30, true);
    Uuid id = log.record(LinkRequest(*URL::parse("https://a.test/"), "app\x1b[2J",
                                     "Re: invoice\n2024-01-01T00:00:00Z routed https://bank.test/ "
                                     "\u202Egnp.exe",
                                     Date::now()));
    log.update(id, DecisionStatus::routed, BrowserTarget{"firefox"}, "rule \xc2\x9b", {"a\rb"});
  }
  Process::Result text = linkferry(home, {"log"});
  ASSERT_EQ(text.exitStatus, 0) << text.standardError;
  EXPECT_NE(text.standardOutput.find(
                "\n  from: app\\x1b[2J \"Re: invoice\\x0a2024-01-01T00:00:00Z routed "
                "https://bank.test/ \\u{202E}gnp.exe\"\n  reason: rule \\u{009B}\n  trace: a\\x0db\n"),
            std::string::npos)
      << text.standardOutput;
  EXPECT_EQ(std::count(text.standardOutput.begin(), text.standardOutput.end(), '\n'), 4);
}

// An international name reads in its own letters, a look-alike in its ASCII form only.
TEST(LogCommand, ShowsInternationalHostsReadably) {
  TemporaryDirectory home;
  {
    DecisionLog log(home.path() / "log.json", 30, true);
    log.record(LinkRequest(*URL::parse("https://xn--bcher-kva.de/stra%C3%9Fe%20x"), std::nullopt,
                           std::nullopt, Date::now()));
    log.record(LinkRequest(*URL::parse("https://\xD0\xB0pple.com/%E2%80%AE"), std::nullopt,
                           std::nullopt, Date::now()));
  }
  Process::Result text = linkferry(home, {"log"});
  ASSERT_EQ(text.exitStatus, 0) << text.standardError;
  EXPECT_NE(text.standardOutput.find(" pending https://bücher.de/straße%20x\n"), std::string::npos)
      << text.standardOutput;
  EXPECT_NE(text.standardOutput.find(" pending https://xn--pple-43d.com/%E2%80%AE\n"),
            std::string::npos)
      << text.standardOutput;
}

}  // namespace
}  // namespace linkferry
