// The decision pipeline while the user waits: one full run for one link (rules over 100 rules, app
// links, Focus, sessions and history over an index of 100,000 domains, context), the same stages
// called directly, and what the stage limit (withTimeout) costs per stage on its own.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <string>

#include "foundation/Timeout.h"
#include "router/AppLinkStage.h"
#include "router/ContextStage.h"
#include "router/FocusStage.h"
#include "router/HistoryStage.h"
#include "router/Pipeline.h"
#include "router/RulesStage.h"
#include "router/SessionStage.h"

using namespace linkferry;

namespace {

constexpr double kNow = 1'796'000'000;

BrowserTarget target(std::string browser, std::optional<std::string> profile = std::nullopt) {
  return BrowserTarget{.browser = std::move(browser), .profile = std::move(profile)};
}

// 100 rules, none matching the benchmark link, so each is evaluated in full: host patterns, path
// prefixes, nested conditions, and every fifth a regular expression.
std::shared_ptr<const RuleSet> rules() {
  auto set = std::make_shared<RuleSet>();
  for (int i = 0; i < 100; ++i) {
    const std::string n = std::to_string(i);
    Matcher match = Matcher::all({});
    switch (i % 5) {
      case 0:
        match = Matcher::hostRegex("^shop" + n + "\\.(example|sample)\\.com$");
        break;
      case 1:
        match = Matcher::host("*.site" + n + ".test");
        break;
      case 2:
        match = Matcher::pathPrefix("/area" + n + "/");
        break;
      case 3:
        match = Matcher::all({Matcher::host("*.corp" + n + ".example"),
                              Matcher::not_(Matcher::scheme("http"))});
        break;
      default:
        match = Matcher::any({Matcher::sourceApp("com.app" + n), Matcher::query("id" + n)});
        break;
    }
    set->rules.push_back(Rule{.id = "R" + n,
                              .name = "rule " + n,
                              .enabled = true,
                              .match = std::move(match),
                              .action = RuleAction{.kind = RuleActionKind::open(target("firefox"))},
                              .expiresAt = std::nullopt});
  }
  return set;
}

// 100,000 domains, each with a weak session and two history entries.
std::shared_ptr<const SignalIndex> index() {
  auto built = std::make_shared<SignalIndex>(SignalIndex::empty());
  built->domains.reserve(100'000);
  for (int i = 0; i < 100'000; ++i) {
    DomainSignals signals;
    signals.sessions = {{target("firefox", "default"), SessionLevel::weak},
                        {target("chromium", "Default"), SessionLevel::weak}};
    signals.history = {
        {target("firefox", "default"), HistoryStat{Date{kNow - 3600.0 * (i % 500)}, i % 70}},
        {target("chromium", "Default"), HistoryStat{Date{kNow - 86400.0 * (i % 40)}, i % 9}}};
    built->domains.emplace("site" + std::to_string(i) + ".com", std::move(signals));
  }
  return built;
}

struct Fixture {
  std::shared_ptr<const RuleSet> ruleSet = rules();
  std::shared_ptr<const SignalIndex> signals = index();
  std::shared_ptr<const std::set<std::string>> known =
      std::make_shared<const std::set<std::string>>(std::set<std::string>{"firefox", "chromium"});
  std::shared_ptr<const std::vector<BrowserTarget>> targets =
      std::make_shared<const std::vector<BrowserTarget>>(std::vector<BrowserTarget>{
          target("firefox", "default"), target("chromium", "Default"), target("chromium", "Work")});
  LinkRequest request{*URL::parse("https://www.site54321.com/articles/7?ref=home"), Date{kNow}};
  RoutingContext context{std::string("chromium"), std::string("firefox"), {"home"}, Date{kNow},
                         Calendar::current()};

  Fixture() { context.installedApps = {"com.spotify.client", "us.zoom.xos"}; }

  // What the router builds for every link: the stages over shared data, no index copied.
  Pipeline pipeline() const {
    const auto& psl = PublicSuffixList::shared();
    return Pipeline{{std::make_shared<RulesStage>(ruleSet, known),
                     std::make_shared<AppLinkStage>(std::map<std::string, bool>{}),
                     std::make_shared<FocusStage>(std::nullopt, known),
                     std::make_shared<SessionStage>(signals, psl),
                     std::make_shared<HistoryStage>(signals, psl, 7 * 86400.0, false),
                     std::make_shared<ContextStage>(targets)},
                    *targets};
  }
};

const Fixture& fixture() {
  static const auto& shared = *new Fixture();
  return shared;
}

void BM_PipelineRoute(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    Decision decision = f.pipeline().route(f.request, f.context);
    benchmark::DoNotOptimize(decision);
  }
}
BENCHMARK(BM_PipelineRoute)->Unit(benchmark::kMicrosecond);

// The same stages evaluated in a row on the caller's thread: the work itself, without limits.
void BM_StagesDirect(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    const Pipeline pipeline = f.pipeline();
    for (const auto& stage : pipeline.stages) {
      StageResult result = stage->evaluate(f.request, f.context);
      benchmark::DoNotOptimize(result);
    }
  }
}
BENCHMARK(BM_StagesDirect)->Unit(benchmark::kMicrosecond);

// The stage limit alone: handing a trivial operation over and getting its result back.
void BM_WithTimeoutHandOff(benchmark::State& state) {
  for (auto _ : state) {
    auto result = withTimeout<int>(std::chrono::milliseconds(150), [] { return 1; });
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_WithTimeoutHandOff)->Unit(benchmark::kMicrosecond);

// For comparison, the hand-off with a new thread per operation, as the limit once worked.
void BM_ThreadPerOperationHandOff(benchmark::State& state) {
  for (auto _ : state) {
    struct Race {
      std::mutex mutex;
      std::condition_variable finished;
      std::optional<int> result;
    };
    auto race = std::make_shared<Race>();
    std::thread([race] {
      std::lock_guard lock(race->mutex);
      race->result = 1;
      race->finished.notify_all();
    }).detach();
    std::unique_lock lock(race->mutex);
    race->finished.wait_for(lock, std::chrono::milliseconds(150), [&] { return race->result.has_value(); });
    benchmark::DoNotOptimize(race->result);
  }
}
BENCHMARK(BM_ThreadPerOperationHandOff)->Unit(benchmark::kMicrosecond);

}  // namespace
