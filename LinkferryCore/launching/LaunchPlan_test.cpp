#include "launching/LaunchPlan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/Process.h"

namespace linkferry {
namespace {

LaunchPlan decode(std::string_view text) {
  return LaunchPlan::fromJson(JsonReader(Json::parse(text, "plan.json"), "plan.json"));
}

LaunchPlan nestedPlan() {
  LaunchPlan innermost{"/usr/bin/open", {"-b", "com.apple.Safari", "https://a.test/"}, {}};
  LaunchPlan middle{"/usr/bin/open",
                    {"-na", "/Applications/Firefox.app", "--args", "-P", "Work", "https://a.test/"},
                    {"no containers"},
                    {innermost},
                    "opened in Safari instead"};
  return LaunchPlan{"/usr/bin/osascript",
                    {"-e", "tell application \"Firefox\"", "https://a.test/"},
                    {},
                    {middle},
                    "current tab unavailable"};
}

TEST(LaunchPlan, EncodesFallbacksAlwaysAndTheNoteOnlyWhenPresent) {
  LaunchPlan plan{"/usr/bin/open", {"https://a.test/"}, {}};
  JsonValue json = plan.toJson();
  EXPECT_EQ(Json::encodeCompact(json),
            R"({"arguments":["https://a.test/"],"executable":"/usr/bin/open","fallbacks":[],)"
            R"("warnings":[]})");
  plan.fallbackNote = "note";
  EXPECT_EQ(plan.toJson()["fallbackNote"], "note");
}

TEST(LaunchPlan, NestedFallbacksRoundTripToAnEqualPlan) {
  const LaunchPlan plan = nestedPlan();
  EXPECT_EQ(decode(Json::encodeCompact(plan.toJson())), plan);
}

TEST(LaunchPlan, EqualityLooksIntoNestedFallbacks) {
  LaunchPlan changed = nestedPlan();
  changed.fallbacks[0].fallbacks[0].arguments.back() = "https://b.test/";
  EXPECT_NE(changed, nestedPlan());
  changed = nestedPlan();
  changed.fallbacks[0].fallbackNote.reset();
  EXPECT_NE(changed, nestedPlan());
}

TEST(LaunchPlan, DecodingRequiresEveryKeyButTheNote) {
  struct Case {
    const char* json;
    const char* error;  // part of the message; null when decoding succeeds
  } cases[] = {
      {R"({"executable":"/x","arguments":[],"warnings":[],"fallbacks":[]})", nullptr},
      {R"({"executable":"/x","arguments":[],"warnings":[],"fallbacks":[],"fallbackNote":null})",
       nullptr},
      {R"({"executable":"/x","arguments":[],"warnings":[],"fallbacks":[],"other":1})", nullptr},
      {R"({"executable":"/x","arguments":[],"warnings":[]})", "fallbacks"},
      {R"({"arguments":[],"warnings":[],"fallbacks":[]})", "executable"},
      {R"({"executable":"/x","warnings":[],"fallbacks":[]})", "arguments"},
      {R"({"executable":"/x","arguments":[],"fallbacks":[]})", "warnings"},
      {R"({"executable":"/x","arguments":[1],"warnings":[],"fallbacks":[]})", "arguments[0]"},
      {R"({"executable":"/x","arguments":[],"warnings":[],"fallbacks":[{"executable":"/y"}]})",
       "fallbacks[0]"},
      {R"({"executable":"/x","arguments":[],"warnings":[],"fallbacks":[],"fallbackNote":3})",
       "fallbackNote"},
      {R"({"executable":"/x","arguments":[],"warnings":[],"fallbacks":{}})", "fallbacks"},
      {R"(["/x"])", "plan.json"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.json);
    if (test.error == nullptr) {
      EXPECT_NO_THROW(decode(test.json));
      continue;
    }
    try {
      decode(test.json);
      ADD_FAILURE() << "decoded";
    } catch (const JsonError& error) {
      EXPECT_THAT(error.what(), ::testing::HasSubstr(test.error));
    }
  }
  EXPECT_EQ(decode(R"({"executable":"/x","arguments":[],"warnings":[],"fallbacks":[],)"
                   R"("fallbackNote":null})")
                .fallbackNote,
            std::nullopt);
}

TEST(LaunchPlan, RefusesFallbacksNestedBeyondTheLimit) {
  auto nested = [](int depth) {
    LaunchPlan plan{"/usr/bin/open", {"https://a.test/"}, {}};
    for (int i = 0; i < depth; ++i) plan = LaunchPlan{"/usr/bin/open", {}, {}, {plan}};
    return Json::encodeCompact(plan.toJson());
  };
  EXPECT_NO_THROW(decode(nested(LaunchPlan::kMaxFallbackDepth)));
  EXPECT_THROW(decode(nested(LaunchPlan::kMaxFallbackDepth + 1)), JsonError);
}

TEST(LaunchPlan, CommandLineQuotesOnlyWhatAShellWouldChangeAndRunsAsThePlan) {
  EXPECT_EQ(LaunchPlan("/usr/bin/firefox-esr", {"--private-window", "https://x/?a=1&b=2"}, {})
                .commandLine(),
            "/usr/bin/firefox-esr --private-window 'https://x/?a=1&b=2'");
  // A shell given the line passes the program exactly the plan's arguments.
  const std::vector<std::string> words = {
      "it's", "a b", "", "=x", "$HOME", "`id`", "*", "~", "b\xC3\xBC" "cher", "a\"b", "\\", "-P", "x=1"};
  std::vector<std::string> arguments = {"%s|\\n"};
  arguments.insert(arguments.end(), words.begin(), words.end());
  const std::string line = LaunchPlan("printf", arguments, {}).commandLine();
  Process::Options options;
  options.captureOutput = true;
  options.environment = std::map<std::string, std::string>{{"PATH", "/usr/bin:/bin"}};
  const Process::Result result = Process::run("/bin/sh", {"-c", line}, options);
  std::string expected;
  for (const std::string& word : words) expected += word + "|\n";
  EXPECT_EQ(result.standardOutput, expected) << line;
}

}  // namespace
}  // namespace linkferry
