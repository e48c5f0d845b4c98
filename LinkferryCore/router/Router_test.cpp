// The router's own choices that no command line reaches: macOS plans with fallbacks, the locked
// screen, and what a picker answer remembers. The runner records plans instead of starting
// /usr/bin/open, which this machine does not have; everything else (log file, rules, pipeline)
// is real.
#include "router/Router.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "launching/LaunchError.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

class RecordingRunner final : public LaunchRunner {
 public:
  void run(const LaunchPlan& plan) override {
    plans.push_back(plan);
    if (failures > 0) {
      --failures;
      throw LaunchError::failed(static_cast<std::int32_t>(plans.size()));
    }
  }
  std::vector<LaunchPlan> plans;
  int failures = 0;
};

BrowserCatalog catalog() {
  BrowserCatalog result;
  for (const auto& [id, family] : {std::pair{"com.apple.Safari", BrowserFamily::safari},
                                  std::pair{"org.mozilla.firefox", BrowserFamily::firefox}}) {
    CatalogBrowser browser;
    browser.definition.id = id;
    browser.definition.name = family == BrowserFamily::safari ? "Safari" : "Firefox";
    browser.definition.family = family;
    browser.definition.appPath = std::string("/Applications/") + browser.definition.name + ".app";
    result.browsers.push_back(browser);
  }
  return result;
}

class RouterTest : public ::testing::Test {
 protected:
  Router make(AppSettings settings, const std::string& rules = "",
              std::shared_ptr<const DeferredIndex> deferredIndex = nullptr) {
    log = std::make_shared<DecisionLog>(folder.path() / "log.json", 30, true);
    RuleSet ruleSet = RuleSet::decode(R"({"version": 1, "rules": [)" + rules + "]}", "rules.json");
    return Router(RouterState{std::make_shared<const BrowserCatalog>(catalog()),
                              std::make_shared<const RuleSet>(ruleSet), nullptr,
                              std::make_shared<const AppSettings>(settings), LaunchPlatform::macOS,
                              std::move(deferredIndex)},
                  log, runner, nullptr, [this, ruleSet](const Router::RuleChange& change) {
                    savedRules.push_back(change(savedRules.empty() ? ruleSet : savedRules.back()));
                    return savedRules.back();
                  });
  }

  RoutingContext context(bool locked = false) const {
    RoutingContext result(std::nullopt, std::nullopt, {}, Date::now(), Calendar::current());
    result.screenLocked = locked;
    return result;
  }

  LinkRequest request(const std::string& link) const { return LinkRequest(*URL::parse(link), Date::now()); }

  std::vector<std::string> trace(const Uuid& id) { return log->entry(id)->trace; }

  TemporaryDirectory folder;
  std::shared_ptr<DecisionLog> log;
  std::shared_ptr<RecordingRunner> runner = std::make_shared<RecordingRunner>();
  std::vector<RuleSet> savedRules;
};

constexpr const char* kSafariRule =
    R"({"name": "Docs", "match": {"host": "docs.example"},
        "action": {"open": {"browser": "com.apple.Safari"}}})";

// Rules may name browsers as `linkferry browsers` shows them; routing uses the identifiers, the
// rules keep what their writer wrote, and a new catalog is resolved again.
TEST_F(RouterTest, RulesNamingABrowserRouteToItsIdentifierAndKeepTheirText) {
  AppSettings settings;
  settings.alwaysAsk = false;
  Router router = make(settings, R"({"name": "Docs", "match": {"host": "docs.example"},
                                     "action": {"open": {"browser": "SAFARI"}}})");
  const RouterResult result =
      router.handle(request("https://docs.example/a"), context(), false, ClickOverride::none());
  ASSERT_NE(result.asOpened(), nullptr);
  EXPECT_EQ(result.asOpened()->target, RouteTarget::open(BrowserTarget{"com.apple.Safari"}));
  EXPECT_EQ(result.asOpened()->reason.stage, "rules");
  ASSERT_EQ(runner->plans.size(), 1u);
  EXPECT_EQ(router.state().rules->rules[0].action.kind.asOpen()->target.browser, "SAFARI");

  BrowserCatalog renamed = catalog();
  renamed.browsers[0].definition.name = "Old Safari";
  renamed.browsers[1].definition.name = "Safari";
  router.setCatalog(std::make_shared<const BrowserCatalog>(renamed));
  const Decision decision = router.test(request("https://docs.example/a"), context());
  ASSERT_NE(decision.outcome.asRoute(), nullptr);
  EXPECT_EQ(decision.outcome.asRoute()->target,
            RouteTarget::open(BrowserTarget{"org.mozilla.firefox"}));
}

// A process that routes one link reads the browsers' databases only when a stage needs their
// signals: never for a link a rule decides, once for all the others.
TEST_F(RouterTest, ADeferredIndexIsBuiltOnlyWhenAStageFirstNeedsIt) {
  std::atomic<int> builds = 0;
  auto deferred = std::make_shared<const DeferredIndex>([&builds] {
    ++builds;
    SignalIndex index = SignalIndex::empty();
    index.domains["example.org"].sessions = {{BrowserTarget{"org.mozilla.firefox"},
                                               SessionLevel::strong}};
    return index;
  });
  AppSettings settings;
  settings.alwaysAsk = false;
  Router router = make(settings, kSafariRule, deferred);
  router.handle(request("https://docs.example/a"), context(), false, ClickOverride::none());
  EXPECT_EQ(builds, 0);
  EXPECT_FALSE(deferred->isBuilt());

  for (const char* link : {"https://www.example.org/", "https://example.org/b"}) {
    const RouterResult result =
        router.handle(request(link), context(), false, ClickOverride::none());
    ASSERT_NE(result.asOpened(), nullptr);
    EXPECT_EQ(result.asOpened()->reason.stage, "session");
  }
  EXPECT_EQ(builds, 1);

  // A real index replaces it.
  router.setIndex(std::make_shared<const SignalIndex>(SignalIndex::empty()));
  EXPECT_EQ(router.state().deferredIndex, nullptr);
  EXPECT_EQ(router.test(request("https://example.org/"), context()).outcome.asRoute(), nullptr);
}

TEST_F(RouterTest, WhenEveryFallbackFailsTheFirstPlansErrorLeadsTheNoteAndTrace) {
  AppSettings settings;
  settings.openIn = OpenIn::currentTab;
  Router router = make(settings, kSafariRule);
  runner->failures = 2;
  const RouterResult result =
      router.handle(request("https://docs.example/a"), context(), false, ClickOverride::none());
  ASSERT_TRUE(result.asPick());
  ASSERT_EQ(runner->plans.size(), 2u);
  EXPECT_EQ(runner->plans[0].executable, "/usr/bin/osascript");
  const std::string both = std::string(LaunchError::failed(1).what()) +
                           "; fallback failed: " + LaunchError::failed(2).what();
  EXPECT_EQ(result.asPick()->request.note, "Could not open in Safari: " + both);
  EXPECT_EQ(trace(result.id()).back(), "launch failed: " + both);

  // One fallback that runs: success, with the first failure noted.
  runner->failures = 1;
  runner->plans.clear();
  const RouterResult opened =
      router.handle(request("https://docs.example/b"), context(), false, ClickOverride::none());
  ASSERT_TRUE(opened.asOpened());
  const auto lines = trace(opened.id());
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find(LaunchError::failed(1).what()) != std::string::npos;
  }));
}

TEST_F(RouterTest, DryRunListsThePlanAndEveryFallbackAndRunsNothing) {
  AppSettings settings;
  settings.openIn = OpenIn::currentTab;
  settings.dryRun = true;
  Router router = make(settings, kSafariRule);
  const RouterResult result =
      router.handle(request("https://docs.example/a"), context(), false, ClickOverride::none());
  ASSERT_TRUE(result.asOpened());
  EXPECT_TRUE(runner->plans.empty());
  const auto lines = trace(result.id());
  EXPECT_TRUE(lines[lines.size() - 2].starts_with("dry run: /usr/bin/osascript -e "));
  EXPECT_EQ(lines.back(),
            "dry run, if that fails: /usr/bin/open -a /Applications/Safari.app https://docs.example/a");
}

TEST_F(RouterTest, OnALockedScreenTheBestGuessOpensUnlessThePickerWasAskedFor) {
  Router router = make(AppSettings{},
                       R"({"name": "Ask", "match": {"host": "shop.example"},
                           "action": {"prompt": [{"browser": "org.mozilla.firefox"}]}})");
  const RouterResult opened =
      router.handle(request("https://shop.example/"), context(true), false, ClickOverride::none());
  ASSERT_TRUE(opened.asOpened());
  EXPECT_EQ(opened.asOpened()->reason.stage, "locked");

  const RouterResult forced =
      router.handle(request("https://shop.example/"), context(true), false, ClickOverride::pick());
  ASSERT_TRUE(forced.asPick());
  // A prompt rule's picker holds only the rule's targets, not every browser.
  const auto& candidates = forced.asPick()->request.candidates;
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].target.browser, "org.mozilla.firefox");
  EXPECT_EQ(runner->plans.size(), 1u);
}

TEST_F(RouterTest, APickerChoiceIsRememberedOnlyWhenARuleCanBeMadeAndIsNotPrivate) {
  Router router = make(AppSettings{});
  const Date now = Date::now();
  const BrowserTarget firefox{"org.mozilla.firefox", std::nullopt, std::nullopt, false};
  BrowserTarget privateFirefox = firefox;
  privateFirefox.privateMode = true;

  auto choose = [&](const std::string& link, const BrowserTarget& target, RememberScope scope) {
    const RouterResult result =
        router.handle(request(link), context(), true, ClickOverride::none());
    router.choose(result.id(), *URL::parse(link), target, scope, false, std::nullopt,
                  RememberDuration{1, RememberDuration::Unit::hour}, now);
    return trace(result.id());
  };

  // The target is itself private: nothing remembered, said so.
  auto lines = choose("https://a.example/", privateFirefox, RememberScope::domain());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "private window: nothing remembered"), lines.end());
  // No host, no rule: said so too.
  lines = choose("mailto:someone@example.com", firefox, RememberScope::host());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "nothing remembered: no rule can be made for this link"),
            lines.end());
  EXPECT_TRUE(savedRules.empty());

  lines = choose("https://www.b.example/x", firefox, RememberScope::domain());
  ASSERT_EQ(savedRules.size(), 1u);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "rule created: Always open b.example in Firefox, expires " +
                          RFC3339::formatUTC(now.adding(3600))),
            lines.end());
  EXPECT_EQ(router.state().rules->rules.size(), 1u);
  EXPECT_EQ(log->entry(log->all().front().id)->status, DecisionStatus::picked);

  // The new rule decides the next click at once; rules replaced through the setter stop it.
  const RouterResult next =
      router.handle(request("https://b.example/next"), context(), false, ClickOverride::none());
  ASSERT_TRUE(next.asOpened());
  EXPECT_EQ(next.asOpened()->reason.stage, "rules");
  router.setRules(std::make_shared<const RuleSet>());
  EXPECT_TRUE(
      router.handle(request("https://b.example/next"), context(), false, ClickOverride::none())
          .asPick());
}

TEST_F(RouterTest, APendingLinkIsOfferedAgainAndADryRunOpensNoBrowser) {
  AppSettings settings;
  settings.dryRun = true;
  Router router = make(settings, kSafariRule);
  const RouterResult asked =
      router.handle(request("https://docs.example/a"), context(), true, ClickOverride::none());
  ASSERT_TRUE(asked.asPick());
  const LogEntry pending = *log->entry(asked.id());

  const PickerRequest again = router.offer(pending, context(), false);
  EXPECT_EQ(again.id, pending.id);
  ASSERT_EQ(again.candidates.size(), 2u);
  EXPECT_EQ(again.candidates[0].target.browser, "com.apple.Safari");
  EXPECT_EQ(again.candidates[0].weight, 1.0);
  const PickerRequest fresh = router.offer(pending, context(), true);
  EXPECT_NE(fresh.id, pending.id);
  EXPECT_EQ(log->unrouted().size(), 2u);
  EXPECT_EQ(PickerRequest::fromJson(JsonReader(fresh.toJson(), "request")), fresh);

  const auto lines =
      router.openBrowser(BrowserTarget{"org.mozilla.firefox", std::nullopt, std::nullopt, true});
  EXPECT_EQ(lines.back(), "dry run: /usr/bin/open -na /Applications/Firefox.app --args --private-window");
  EXPECT_TRUE(runner->plans.empty());
}

TEST_F(RouterTest, ALinkOpenedDirectlyIsLoggedAsRoutedOrFailedAndACancelKeepsItsNote) {
  Router router = make(AppSettings{});
  const BrowserTarget firefox{"org.mozilla.firefox", std::nullopt, std::nullopt, false};
  const Uuid id = router.open(request("https://a.example/?utm_source=mail&q=1"), firefox, "menu");
  ASSERT_EQ(runner->plans.size(), 1u);
  EXPECT_EQ(runner->plans[0].arguments.back(), "https://a.example/?q=1");
  const LogEntry opened = *log->entry(id);
  EXPECT_EQ(opened.status, DecisionStatus::routed);
  EXPECT_EQ(opened.target, firefox);
  EXPECT_EQ(opened.reason, "menu");
  EXPECT_EQ(opened.url.absoluteString(), "https://a.example/?q=1");
  EXPECT_EQ(opened.trace,
            (std::vector<std::string>{"[tracking] removed: utm_source", "[menu] opened directly"}));

  runner->failures = 1;
  EXPECT_THROW(router.open(request("https://b.example/"), firefox, "menu"), LaunchError);
  const auto entries = log->all();
  const auto found = std::find_if(entries.begin(), entries.end(), [](const LogEntry& entry) {
    return entry.url.absoluteString() == "https://b.example/";
  });
  ASSERT_NE(found, entries.end());
  const LogEntry& failed = *found;
  EXPECT_EQ(failed.status, DecisionStatus::failed);
  EXPECT_EQ(failed.target, firefox);
  EXPECT_EQ(failed.reason, std::nullopt);
  EXPECT_EQ(failed.trace, std::vector<std::string>{std::string("launch failed: ") +
                                                   LaunchError::failed(2).what()});

  const RouterResult asked =
      router.handle(request("https://c.example/"), context(), true, ClickOverride::none());
  const std::size_t linesBefore = trace(asked.id()).size();
  router.cancel(asked.id(), "closed with Escape");
  const LogEntry cancelled = *log->entry(asked.id());
  EXPECT_EQ(cancelled.status, DecisionStatus::cancelled);
  EXPECT_EQ(cancelled.target, std::nullopt);
  ASSERT_EQ(cancelled.trace.size(), linesBefore + 1);
  EXPECT_EQ(cancelled.trace.back(), "closed with Escape");
}

// A shortener that answers only when the test lets it, and says when a click is waiting on it.
class GatedExpander final : public ShortLinkExpanding {
 public:
  ShortLinkExpansion expand(const URL& url) const override {
    entered.set_value();
    std::unique_lock lock(mutex);
    released.wait(lock, [this] { return open; });
    return ShortLinkExpansion{*URL::parse("https://docs.example/expanded"), {url}, std::nullopt};
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    released.notify_all();
  }
  mutable std::promise<void> entered;
  mutable std::mutex mutex;
  mutable std::condition_variable released;
  bool open = false;
};

TEST_F(RouterTest, AClickWaitingOnTheNetworkHoldsUpNoOtherClickAndNoChangeOfState) {
  make(AppSettings{});  // the log
  auto expander = std::make_shared<GatedExpander>();
  Router router(RouterState{std::make_shared<const BrowserCatalog>(catalog()),
                            std::make_shared<const RuleSet>(RuleSet::decode(
                                R"({"version": 1, "rules": [)" + std::string(kSafariRule) + "]}",
                                "rules.json")),
                            nullptr, std::make_shared<const AppSettings>(), LaunchPlatform::macOS,
                            nullptr},
                log, runner, expander, [](const Router::RuleChange& change) {
                  return change(RuleSet());
                });
  std::future<RouterResult> slow = std::async(std::launch::async, [&] {
    return router.handle(request("https://bit.ly/abc"), context(), false, ClickOverride::none());
  });
  expander->entered.get_future().wait();

  // While the short link is still being followed: another click is routed and launched, the
  // state changes, and the log answers.
  const RouterResult plain =
      router.handle(request("https://docs.example/now"), context(), false, ClickOverride::none());
  ASSERT_TRUE(plain.asOpened());
  EXPECT_EQ(runner->plans.size(), 1u);
  router.setSettings(std::make_shared<const AppSettings>());
  EXPECT_EQ(log->entry(plain.id())->status, DecisionStatus::routed);

  expander->release();
  const RouterResult expanded = slow.get();
  ASSERT_TRUE(expanded.asOpened());
  EXPECT_EQ(log->entry(expanded.id())->url.absoluteString(), "https://docs.example/expanded");
  EXPECT_EQ(runner->plans.size(), 2u);
}

TEST_F(RouterTest, ARememberedChoiceIsAddedToTheRulesAsStoredAndADryRunSavesNone) {
  Router router = make(AppSettings{});
  // The user added a rule to the file after the router loaded it.
  savedRules.push_back(RuleSet::decode(
      R"({"version": 1, "rules": [)" + std::string(kSafariRule) + "]}", "rules.json"));
  const BrowserTarget firefox{"org.mozilla.firefox", std::nullopt, std::nullopt, false};
  auto choose = [&](const std::string& link, bool dryRun) {
    const RouterResult result =
        router.handle(request(link), context(), true, ClickOverride::none(), dryRun);
    router.choose(result.id(), *URL::parse(link), firefox, RememberScope::domain(), false,
                  std::nullopt, std::nullopt, Date::now(), dryRun);
    return trace(result.id());
  };

  const auto dry = choose("https://a.example/", true);
  EXPECT_EQ(dry.end()[-2], "dry run: rule not saved: Always open a.example in Firefox");
  EXPECT_TRUE(dry.back().starts_with("dry run: /usr/bin/open"));
  EXPECT_EQ(savedRules.size(), 1u);
  EXPECT_TRUE(runner->plans.empty());

  choose("https://b.example/", false);
  ASSERT_EQ(savedRules.size(), 2u);
  ASSERT_EQ(router.state().rules->rules.size(), 2u);
  EXPECT_EQ(router.state().rules->rules[1].name, "Docs");  // the new rule goes first
  EXPECT_EQ(runner->plans.size(), 1u);
}

}  // namespace
}  // namespace linkferry
