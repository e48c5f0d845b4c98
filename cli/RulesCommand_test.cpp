#include <gtest/gtest.h>

#include <map>
#include <string>

#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

Process::Result rules(const TemporaryDirectory& home, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "rules");
  Process::Options options;
  options.captureOutput = true;
  options.environment = std::map<std::string, std::string>{
      {"LINKFERRY_HOME", home.path().string()}, {"HOME", home.path().string()}, {"TZ", "UTC"}};
  return Process::run((testing::binaryDirectory() / "cli" / "linkferry").string(), arguments,
                      options);
}

TEST(RulesCommand, CheckReportsEveryProblemAndFailsOnlyWhenThereIsOne) {
  TemporaryDirectory home;
  Process::Result empty = rules(home, {"check"});
  EXPECT_EQ(empty.exitStatus, 0) << empty.standardError;
  EXPECT_NE(empty.standardOutput.find("0 rules, no problems"), std::string::npos);

  home.write("rules.json", R"({"version": 1, "rules": [
    {"name": "fine", "match": {"host": "*.a.test"}, "action": {"ignore": true}},
    {"name": "bad", "match": {"any": [{"urlRegex": "(["}, {"timeWindow": {"start": "25:00", "end": "07:00", "days": [8]}}]},
     "action": {"rewrite": {"host": "a b"}}}]})");
  Process::Result text = rules(home, {"check"});
  EXPECT_EQ(text.exitStatus, 1);
  EXPECT_EQ(text.standardOutput,
            "rules[1] “bad”: invalid regular expression: ([\n"
            "rules[1] “bad”: invalid time window 25:00-07:00, expected HH:mm\n"
            "rules[1] “bad”: invalid days [8], expected 1 (Monday) to 7 (Sunday)\n"
            "rules[1] “bad”: A host name has no spaces or slashes.\n");

  Process::Result json = rules(home, {"check", "--json"});
  EXPECT_EQ(json.exitStatus, 1);
  JsonValue report = JsonValue::parse(json.standardOutput);
  EXPECT_EQ(report["rules"], 2);
  EXPECT_EQ(report["problems"].size(), 4u);
  EXPECT_EQ(report["problems"][0]["rule"], 1);

  home.write(
      "rules.json",
      R"({"version": 1, "rules": [{"name": "x", "match": {"not": {}}, "action": {"ignore": 1}}]})");
  Process::Result broken = rules(home, {"check"});
  EXPECT_EQ(broken.exitStatus, 1);
  EXPECT_EQ(broken.standardOutput,
            (home.path() / "rules.json").string() +
                ": rules[0].match.not: A matcher needs exactly one known key, got []\n");
}

TEST(RulesCommand, ListShowsConditionActionAndWhetherActive) {
  TemporaryDirectory home;
  home.write("rules.json", R"({"version": 1, "rules": [
    {"name": "Work", "match": {"all": [{"host": "*.corp.test"}, {"not": {"scheme": "http"}}]},
     "action": {"open": {"browser": "firefox", "profile": "work"}}},
    {"name": "Off", "enabled": false, "match": {"any": []}, "action": {"ignore": true}},
    {"name": "Old", "match": {"network": "Office"}, "action": {"openInApp": "com.app"}, "expiresAt": "2020-01-01T00:00:00Z"}]})");
  Process::Result list = rules(home, {"list"});
  EXPECT_EQ(list.exitStatus, 0) << list.standardError;
  EXPECT_EQ(
      list.standardOutput,
      "1. [active] Work: if host *.corp.test and not scheme http then open in firefox / work\n"
      "2. [disabled] Off: if never then ignore\n"
      "3. [expired] Old: if on network Office then open with app com.app (until "
      "2020-01-01T00:00:00Z)\n");

  home.write("rules.json", R"({"version": 2, "rules": []})");
  Process::Result newer = rules(home, {"list"});
  EXPECT_EQ(newer.exitStatus, 1);
  EXPECT_NE(newer.standardError.find("version 2 is newer"), std::string::npos)
      << newer.standardError;
}

}  // namespace
}  // namespace linkferry
