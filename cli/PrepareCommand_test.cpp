#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

// `linkferry prepare` with its data folder in `home`.
Process::Result prepare(const testing::TemporaryDirectory& home,
                        const std::vector<std::string>& arguments) {
  std::vector<std::string> all = {"prepare"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  Process::Options options;
  options.captureOutput = true;
  auto environment = Process::currentEnvironment();
  environment["LINKFERRY_HOME"] = home.path().string();
  options.environment = environment;
  return Process::run(testing::linkferryProgram().string(), all, options);
}

TEST(PrepareCommand, PrintsThePreparedLinkItsTraceAndTheRemovedParameters) {
  testing::TemporaryDirectory home;
  home.write("rules.json", R"({"version": 1, "rules": [{"name": "old reddit",
      "match": {"host": "www.reddit.com"}, "action": {"rewrite": {"host": "old.reddit.com"}}}]})");
  const std::string wrapped =
      "https://www.google.com/"
      "url?q=https%3A%2F%2Fwww.reddit.com%2Fr%2Fx%3Futm_source%3Dmail%26s%3D1";
  Process::Result result = prepare(home, {"--json", "--no-network", wrapped, "https://bit.ly/abc"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  JsonValue reports = Json::parse(result.standardOutput, "output");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0]["link"], wrapped);
  EXPECT_EQ(reports[0]["url"], "https://old.reddit.com/r/x?s=1");
  EXPECT_EQ(reports[0]["expandedFrom"], nullptr);
  EXPECT_EQ(reports[0]["removed"], JsonValue::array({"utm_source"}));
  ASSERT_EQ(reports[0]["trace"].size(), 3u);
  EXPECT_EQ(reports[0]["trace"][0],
            "[unwrap] Google: https://www.reddit.com/r/x?utm_source=mail&s=1");
  EXPECT_EQ(reports[0]["trace"][2], "[tracking] removed: utm_source");
  EXPECT_EQ(reports[1]["url"], "https://bit.ly/abc");
  EXPECT_EQ(reports[1]["trace"],
            JsonValue::array({"[expand] short link not expanded here (no network)"}));

  Process::Result text = prepare(home, {"--no-network", "https://a.test/?fbclid=1", "not a url"});
  EXPECT_EQ(text.exitStatus, 1);
  EXPECT_EQ(text.standardOutput, "https://a.test/\n  [tracking] removed: fbclid\n");
  EXPECT_NE(text.standardError.find("linkferry: not a URL: \"not a url\""), std::string::npos);
}

TEST(PrepareCommand, FollowsTheSettingsOfTheDataFolder) {
  testing::TemporaryDirectory home;
  home.write("settings.json",
             R"({"forceHTTPS": true, "forceHTTPSExceptions": ["*.legacy.test"],
                 "stripTracking": false, "unwrapRedirects": false})");
  const std::string wrapped = "http://l.instagram.com/?u=http%3A%2F%2Fa.test%2F&utm_source=x";
  Process::Result result =
      prepare(home, {"--no-network", wrapped, "http://www.legacy.test/?fbclid=1"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(result.standardOutput,
            "https://l.instagram.com/?u=http%3A%2F%2Fa.test%2F&utm_source=x\n"
            "  [https] upgraded to https://l.instagram.com/?u=http%3A%2F%2Fa.test%2F&utm_source=x\n"
            "http://www.legacy.test/?fbclid=1\n");
}

TEST(PrepareCommand, NamesMalformedDataFiles) {
  testing::TemporaryDirectory home;
  home.write("rules.json", "{");
  Process::Result result = prepare(home, {"--no-network", "https://a.test/"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.standardError.find("rules.json"), std::string::npos) << result.standardError;
  EXPECT_EQ(result.standardOutput, "");

  home.write("rules.json", R"({"version": 1, "rules": []})");
  home.write("settings.json", R"({"forceHTTPS": "yes"})");
  result = prepare(home, {"--no-network", "https://a.test/"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.standardError.find("settings.json"), std::string::npos) << result.standardError;
}

}  // namespace
}  // namespace linkferry
