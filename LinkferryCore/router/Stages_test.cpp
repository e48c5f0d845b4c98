#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "router/ContextStage.h"
#include "router/FocusStage.h"
#include "router/HistoryStage.h"
#include "router/RulesStage.h"
#include "router/SessionStage.h"

namespace linkferry {
namespace {

constexpr double kNow = 1'796'000'000;
constexpr double kDay = 86400;

BrowserTarget target(std::string browser, std::optional<std::string> profile = std::nullopt) {
  return BrowserTarget{.browser = std::move(browser), .profile = std::move(profile)};
}

LinkRequest request(std::string_view link) {
  return LinkRequest(*URL::parse(link), Date{kNow});
}

RoutingContext context(std::optional<std::string> frontmost = std::nullopt,
                       std::optional<std::string> lastUsed = std::nullopt) {
  return RoutingContext(std::move(frontmost), std::move(lastUsed), {}, Date{kNow},
                        *Calendar::withTimeZone("UTC"));
}

std::shared_ptr<const std::set<std::string>> known(std::set<std::string> ids) {
  return std::make_shared<const std::set<std::string>>(std::move(ids));
}

StageResult rulesResult(const std::string& rules, std::string_view link = "https://example.com/") {
  auto set = std::make_shared<const RuleSet>(
      RuleSet::decode(R"({"version": 1, "rules": [)" + rules + "]}", "rules.json"));
  return RulesStage(set, known({"firefox", "chromium"})).evaluate(request(link), context());
}

TEST(RulesStage, SkipsRulesItCannotCarryOutAndNamesThem) {
  const std::string unknownOpen =
      R"({"name": "Gone", "match": {"host": "example.com"}, "action": {"open": {"browser": "safari"}}})";
  const std::string unknownPrompt =
      R"({"name": "Ask", "match": {"host": "example.com"}, "action": {"prompt": [{"browser": "opera"}]}})";
  const std::string rewrite =
      R"({"name": "Shorten", "match": {"host": "example.com"}, "action": {"rewrite": {"regex": "a", "replacement": "b"}}})";
  const std::string open =
      R"({"name": "Work", "match": {"host": "example.com"}, "action": {"open": {"browser": "firefox", "profile": "w"}}})";

  EXPECT_EQ(rulesResult(unknownOpen + "," + rewrite + "," + unknownPrompt + "," + open),
            StageResult::decided(RouteTarget::open(target("firefox", "w")),
                                 Reason{"rules", "rule “Work”"}));
  EXPECT_EQ(rulesResult(unknownOpen + "," + rewrite + "," + unknownPrompt),
            StageResult::abstain("no usable rule (rule “Gone”: unknown browser safari; rule "
                                 "“Ask”: no known browser to prompt)"));
  EXPECT_EQ(rulesResult(rewrite), StageResult::abstain("no rule matched"));
  EXPECT_EQ(rulesResult(open, "https://other.example/"), StageResult::abstain("no rule matched"));
}

TEST(RulesStage, PromptsWithTheKnownTargetsAndDecidesAppsAndIgnores) {
  const Reason reason{"rules", "rule “Pick”"};
  EXPECT_EQ(rulesResult(R"({"name": "Pick", "match": {"host": "example.com"}, "action": {"prompt":
                [{"browser": "opera"}, {"browser": "chromium"}, {"browser": "firefox"}]}})"),
            StageResult::ask({Candidate{target("chromium"), 0, {reason}},
                              Candidate{target("firefox"), 0, {reason}}},
                             reason));
  EXPECT_EQ(rulesResult(R"({"name": "Pick", "match": {"host": "example.com"}, "action": {"openInApp": "zoom"}})"),
            StageResult::decided(RouteTarget::openInApp("zoom"), reason));
  EXPECT_EQ(rulesResult(R"({"name": "Pick", "enabled": false, "match": {"host": "example.com"}, "action": {"ignore": true}},
                           {"name": "Pick", "match": {"host": "example.com"}, "action": {"ignore": true}})"),
            StageResult::decided(RouteTarget::ignore(), reason));
}

TEST(FocusStage, DecidesWhenAlwaysUsedElseRanksFarAhead) {
  const auto browsers = known({"firefox"});
  const FocusDefault focus{target("firefox", "Home"), false};
  const Reason reason{"focus", "Focus filter"};
  EXPECT_EQ(FocusStage(focus, browsers).evaluate(request("https://a.com"), context()),
            StageResult::ranked({Candidate{target("firefox", "Home"), 100.0, {reason}}}));
  EXPECT_EQ(FocusStage(FocusDefault{target("firefox"), true}, browsers)
                .evaluate(request("https://a.com"), context()),
            StageResult::decided(RouteTarget::open(target("firefox")), reason));
  EXPECT_EQ(FocusStage(std::nullopt, browsers).evaluate(request("https://a.com"), context()),
            StageResult::abstain("no Focus filter"));
  EXPECT_EQ(FocusStage(FocusDefault{target("vivaldi"), true}, browsers)
                .evaluate(request("https://a.com"), context()),
            StageResult::abstain("Focus filter browser vivaldi is unknown"));
}

std::shared_ptr<const SignalIndex> indexWith(std::string domain, DomainSignals signals) {
  auto index = std::make_shared<SignalIndex>(SignalIndex::empty());
  index->domains.emplace(std::move(domain), std::move(signals));
  return index;
}

// Browsers store international hosts in ASCII form; a link may bring the Unicode form. Both are
// one site, and the user reads the domain in its own letters whichever form the link wrote.
TEST(SessionStage, FindsAnInternationalSiteWhicheverFormTheLinkUses) {
  DomainSignals signals;
  signals.sessions = {{target("firefox"), SessionLevel::strong}};
  SessionStage stage(indexWith("xn--bcher-kva.de", signals), PublicSuffixList::shared());
  EXPECT_EQ(stage.evaluate(request("https://www.Bücher.de/x"), context()),
            StageResult::decided(RouteTarget::open(target("firefox")),
                                 Reason{"session", "signed in to bücher.de"}));
  EXPECT_EQ(stage.evaluate(request("https://shop.xn--bcher-kva.de/"), context()),
            StageResult::decided(RouteTarget::open(target("firefox")),
                                 Reason{"session", "signed in to bücher.de"}));
  EXPECT_EQ(stage.evaluate(request("https://bucher.de/"), context()),
            StageResult::abstain("no session for bucher.de"));
}

TEST(SessionStage, DecidesForTheOneStrongSessionAndRanksTheRest) {
  const auto& psl = PublicSuffixList::shared();
  auto evaluate = [&](DomainSignals signals, std::string_view link = "https://mail.example.co.uk/x") {
    return SessionStage(indexWith("example.co.uk", std::move(signals)), psl)
        .evaluate(request(link), context());
  };
  DomainSignals oneStrong;
  oneStrong.sessions = {{target("firefox"), SessionLevel::strong},
                        {target("chromium"), SessionLevel::weak}};
  EXPECT_EQ(evaluate(oneStrong), StageResult::decided(RouteTarget::open(target("firefox")),
                                                      Reason{"session", "signed in to example.co.uk"}));

  DomainSignals twoStrong;
  twoStrong.sessions = {{target("firefox"), SessionLevel::strong},
                        {target("chromium", "Work"), SessionLevel::strong},
                        {target("chromium"), SessionLevel::weak}};
  EXPECT_EQ(evaluate(twoStrong),
            StageResult::ranked({Candidate{target("chromium"), 1.0, {{"session", "has cookies"}}},
                                 Candidate{target("chromium", "Work"), 3.0, {{"session", "signed in"}}},
                                 Candidate{target("firefox"), 3.0, {{"session", "signed in"}}}}));

  EXPECT_EQ(evaluate(oneStrong, "https://other.co.uk/"),
            StageResult::abstain("no session for other.co.uk"));
  for (const char* link : {"https://192.168.0.1/", "https://[::1]/", "https://localhost/",
                           "https://co.uk/", "mailto:a@example.co.uk"}) {
    SCOPED_TRACE(link);
    EXPECT_EQ(evaluate(oneStrong, link), StageResult::abstain("no registrable domain"));
  }
}

HistoryStage historyStage(DomainSignals signals, bool decideOnSoleRecent = true) {
  return HistoryStage(indexWith("example.com", std::move(signals)), PublicSuffixList::shared(),
                      7 * kDay, decideOnSoleRecent);
}

TEST(HistoryStage, DecidesForTheOnlyRecentVisitorElseRanksEveryone) {
  DomainSignals signals;
  signals.history = {{target("firefox"), HistoryStat{Date{kNow - 2 * kDay}, 10}},
                     {target("chromium"), HistoryStat{Date{kNow - 20 * kDay}, 80}}};
  EXPECT_EQ(historyStage(signals).evaluate(request("https://www.example.com/"), context()),
            StageResult::decided(RouteTarget::open(target("firefox")),
                                 Reason{"history",
                                        "only target that visited example.com recently (2 d ago)"}));

  signals.history[target("chromium")].lastVisit = Date{kNow - 5 * kDay};
  const StageResult ranked =
      historyStage(signals).evaluate(request("https://example.com/"), context());
  ASSERT_TRUE(ranked.asRanked());
  const auto& candidates = ranked.asRanked()->candidates;
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].target, target("chromium"));
  EXPECT_DOUBLE_EQ(candidates[0].weight, 2 * (1 - 5.0 / 30) + 1);  // visits capped at 50
  EXPECT_EQ(candidates[0].reasons, (std::vector<Reason>{{"history", "visited 5 d ago"}}));
  EXPECT_DOUBLE_EQ(candidates[1].weight, 2 * (1 - 2.0 / 30) + 10.0 / 50);

  EXPECT_EQ(historyStage(signals).evaluate(request("https://example.org/"), context()),
            StageResult::abstain("no history for example.org"));
  EXPECT_EQ(historyStage(signals).evaluate(request("https://10.0.0.1/"), context()),
            StageResult::abstain("no registrable domain"));
}

// A clock that was wrong, or a profile synced from one, dates visits in the future. Such a visit
// is a visit now: 2 recency points at most, never more.
TEST(HistoryStage, AVisitDatedInTheFutureCountsAsAVisitNow) {
  DomainSignals signals;
  signals.history = {{target("firefox"), HistoryStat{Date{kNow + 365 * kDay}, 50}},
                     {target("chromium"), HistoryStat{Date{kNow - 60 * kDay}, 0}}};
  const StageResult ranked =
      historyStage(signals, false).evaluate(request("https://example.com/"), context());
  ASSERT_TRUE(ranked.asRanked());
  const auto& candidates = ranked.asRanked()->candidates;
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_DOUBLE_EQ(candidates[1].weight, 3.0);
  EXPECT_EQ(candidates[1].reasons[0].detail, "visited 0 min ago");
  EXPECT_DOUBLE_EQ(candidates[0].weight, 0.0);

  EXPECT_EQ(historyStage(signals).evaluate(request("https://example.com/"), context()),
            StageResult::decided(RouteTarget::open(target("firefox")),
                                 Reason{"history",
                                        "only target that visited example.com recently (0 min ago)"}));
}

TEST(HistoryStage, AgeReadsInWholeMinutesHoursOrDays) {
  const Date now{kNow};
  EXPECT_EQ(HistoryStage::ago(Date{kNow - 45 * 60 - 59}, now), "45 min ago");
  EXPECT_EQ(HistoryStage::ago(Date{kNow - 3599}, now), "59 min ago");
  EXPECT_EQ(HistoryStage::ago(Date{kNow - 5 * 3600}, now), "5 h ago");
  EXPECT_EQ(HistoryStage::ago(Date{kNow - 3 * kDay - 7200}, now), "3 d ago");
  EXPECT_EQ(HistoryStage::ago(Date{kNow + 500}, now), "0 min ago");
  EXPECT_EQ(HistoryStage::ago(Date{std::numeric_limits<double>::quiet_NaN()}, now), "0 min ago");
  EXPECT_EQ(HistoryStage::ago(Date{-std::numeric_limits<double>::infinity()}, now),
            "1000000000000000 d ago");
}

TEST(ContextStage, RanksTheFrontmostThenTheLastUsedBrowsersTargets) {
  auto targets = std::make_shared<const std::vector<BrowserTarget>>(std::vector<BrowserTarget>{
      target("firefox", "a"), target("chromium"), target("firefox", "b"), target("safari")});
  ContextStage stage(targets);
  const Reason front{"context", "frontmost browser"};
  const Reason last{"context", "last used browser"};
  EXPECT_EQ(stage.evaluate(request("https://a.com"), context("firefox", "chromium")),
            StageResult::ranked({Candidate{target("firefox", "a"), 0.5, {front}},
                                 Candidate{target("firefox", "b"), 0.5, {front}},
                                 Candidate{target("chromium"), 0.3, {last}}}));
  EXPECT_EQ(stage.evaluate(request("https://a.com"), context("safari", "safari")),
            StageResult::ranked({Candidate{target("safari"), 0.5, {front}}}));
  EXPECT_EQ(stage.evaluate(request("https://a.com"), context(std::nullopt, "chromium")),
            StageResult::ranked({Candidate{target("chromium"), 0.3, {last}}}));
  EXPECT_EQ(stage.evaluate(request("https://a.com"), context("opera")),
            StageResult::abstain("no browser context"));
}

TEST(ContextStage, RanksTheProfileTheFrontmostWindowShowsFirst) {
  auto targets = std::make_shared<const std::vector<BrowserTarget>>(std::vector<BrowserTarget>{
      target("chromium", "Default"), target("chromium", "Profile 1"), target("firefox")});
  ContextStage stage(targets);
  RoutingContext inWork = context("chromium", "firefox");
  inWork.frontmostProfile = "Profile 1";
  const Reason window{"context", "frontmost browser window"};
  const Reason front{"context", "frontmost browser"};
  const Reason last{"context", "last used browser"};
  EXPECT_EQ(stage.evaluate(request("https://a.com"), inWork),
            StageResult::ranked({Candidate{target("chromium", "Default"), 0.4, {front}},
                                 Candidate{target("chromium", "Profile 1"), 0.5, {window}},
                                 Candidate{target("firefox"), 0.3, {last}}}));
  // A profile that is not among the targets (hidden, or unknown here) tells nothing.
  inWork.frontmostProfile = "Profile 9";
  EXPECT_EQ(stage.evaluate(request("https://a.com"), inWork),
            StageResult::ranked({Candidate{target("chromium", "Default"), 0.5, {front}},
                                 Candidate{target("chromium", "Profile 1"), 0.5, {front}},
                                 Candidate{target("firefox"), 0.3, {last}}}));
}

}  // namespace
}  // namespace linkferry
