#include "rules/RuleSetCheck.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "fixtures/BrowserProfiles.h"
#include "rules/RuleTargets.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

std::vector<std::string> texts(const std::vector<RuleSetCheck::Problem>& problems) {
  std::vector<std::string> lines;
  for (const auto& problem : problems) lines.push_back(problem.text());
  return lines;
}

TEST(RuleSetCheck, AFileThatDoesNotLoadIsOneProblemAndTheCatalogIsNotMade) {
  TemporaryDirectory folder;
  const auto file = folder.write("rules.json", R"({"version": 1, "rules": [{"name": 3}]})");
  bool catalogMade = false;
  const auto report = RuleSetCheck::check(file, [&] {
    catalogMade = true;
    return BrowserCatalog{};
  });
  EXPECT_FALSE(catalogMade);
  EXPECT_TRUE(report.fileExists);
  EXPECT_EQ(report.ruleCount, 0u);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].path, "rules[0].name");
  EXPECT_EQ(report.problems[0].toJson()["path"], "rules[0].name");
  EXPECT_EQ(report.problems[0].text(), report.problems[0].message);

  folder.write("rules.json", R"({"version": 2, "rules": []})");
  const auto newer = RuleSetCheck::check(file, [] { return BrowserCatalog{}; });
  EXPECT_EQ(
      texts(newer.problems),
      std::vector<std::string>{file.string() + ": " +
                               "rules.json version 2 is newer than this LinkFerry understands"});
  EXPECT_FALSE(newer.problems[0].toJson().contains("path"));

  const auto missing =
      RuleSetCheck::check(folder.path() / "none.json", [] { return BrowserCatalog{}; });
  EXPECT_FALSE(missing.fileExists);
  EXPECT_TRUE(missing.problems.empty());
}

// A catalog that cannot be made stops only the targets' check: the rules' own problems and the
// unread keys are still reported.
TEST(RuleSetCheck, ACatalogThatFailsIsOneWarningBesideTheRulesProblems) {
  TemporaryDirectory folder;
  const auto file = folder.write("rules.json", R"({"version": 1, "rules": [
    {"id": "r1", "name": "bad", "match": {"hostRegex": "("}, "action": {"ignore": true}, "x": 1}]})");
  const auto report = RuleSetCheck::check(
      file, []() -> BrowserCatalog { throw std::runtime_error("browsers.json: line 1"); });
  EXPECT_EQ(report.ruleCount, 1u);
  ASSERT_EQ(report.warnings.size(), 2u);
  EXPECT_EQ(report.warnings[0].path, "rules[0]");
  EXPECT_EQ(report.warnings[1], (RuleSetWarning{"", "targets not checked: browsers.json: line 1"}));
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].rule, (RuleSetCheck::Problem::RuleRef{0, "r1", "bad"}));
  EXPECT_EQ(report.problems[0].text(), "rules[0] “bad”: " + report.problems[0].message);
  EXPECT_EQ(
      report.problems[0].toJson(),
      (JsonValue{
          {"rule", 0}, {"id", "r1"}, {"name", "bad"}, {"message", report.problems[0].message}}));
}

TEST(RuleSetCheck, NamedTargetsAreJudgedAsRoutingResolvesThem) {
  TemporaryDirectory home;
  const BrowserCatalog catalog = fixtures::realShapedCatalog(home.path());
  const RuleSet set = RuleSet::decode(R"({"version": 1, "rules": [
    {"id": "a", "name": "a", "match": {"scheme": "https"},
     "action": {"open": {"browser": "firefox", "profile": "WORK", "container": "Client A"}}},
    {"id": "b", "name": "b", "match": {"scheme": "https"},
     "action": {"prompt": [{"browser": "chromium", "profile": "Work"}, {"browser": "chromium"}]}},
    {"id": "c", "name": "c", "match": {"scheme": "https"},
     "action": {"open": {"browser": "firefox", "profile": "personal", "container": "Client A"}}},
    {"id": "d", "name": "d", "match": {"scheme": "https"}, "action": {"ignore": true}}]})",
                                      "rules.json");
  EXPECT_EQ(RuleSetCheck::targetWarnings(set, catalog),
            (std::vector<RuleSetCheck::Warning>{
                {"rules[2] “c”", "no container \"Client A\" in profile \"personal\" of "
                                 "\"firefox-esr\""}}));
  EXPECT_EQ(RuleSetCheck::resolvedNames(set, catalog).size(), 5u);

  const auto shared = std::make_shared<const RuleSet>(set);
  const auto resolved = RuleTargets::resolved(shared, catalog);
  EXPECT_EQ(resolved->rules[0].action.kind.asOpen()->target,
            (BrowserTarget{"firefox-esr", "work", "6"}));
  EXPECT_EQ(resolved->rules[1].action.kind.asPrompt()->targets,
            (std::vector<BrowserTarget>{{"chromium", "Profile 1"}, {"chromium"}}));
  EXPECT_EQ(resolved->rules[3], set.rules[3]);
  // A set that already names identifiers is shared as it is.
  EXPECT_EQ(RuleTargets::resolved(resolved, catalog), resolved);
}

}  // namespace
}  // namespace linkferry
