// One clicked link through Router::handle in process: preparation, the decision log (recorded and
// updated on disk), the pipeline and the launch step, with a runner that starts nothing so only
// LinkFerry's own work is measured. The processor time is the whole process's, the workers of
// the stage limits included. Two paths: a rule decides among 100 rules; no rule matches
// and a history guess goes to the picker (always ask) with the picker list built. And the picker
// list alone with up to 30,000 logged decisions, ordered by use as the settings do by default:
// the log's own count of uses against counting over every entry decoded, as it once was built.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <memory>
#include <thread>

#include "foundation/Dates.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "launching/LaunchRunner.h"
#include "router/Router.h"
#include "rules/RuleSet.h"
#include "settings/AppSettings.h"
#include "settings/DecisionLog.h"
#include "settings/PickerModel.h"
#include "signals/SignalIndex.h"

namespace {

using namespace linkferry;

class NoRunner final : public LaunchRunner {
 public:
  void run(const LaunchPlan&) override {}
};

BrowserCatalog catalog() {
  BrowserCatalog result;
  for (const char* id : {"firefox", "chromium", "other"}) {
    CatalogBrowser browser;
    browser.definition.id = id;
    browser.definition.name = id;
    browser.definition.appPath = std::string("/usr/bin/") + id;
    browser.definition.family = std::string_view(id) == "firefox"    ? BrowserFamily::firefox
                                : std::string_view(id) == "chromium" ? BrowserFamily::chromium
                                                                     : BrowserFamily::other;
    result.browsers.push_back(browser);
  }
  return result;
}

// 100 host rules; the last one matches "site99.example".
RuleSet rules() {
  JsonValue list = JsonValue::array();
  for (int i = 0; i < 100; ++i) {
    list.push_back({{"name", "rule " + std::to_string(i)},
                    {"match", {{"host", "*.site" + std::to_string(i) + ".example"}}},
                    {"action", {{"open", {{"browser", i % 2 ? "firefox" : "chromium"}}}}}});
  }
  return RuleSet::decode(JsonValue({{"version", 1}, {"rules", list}}).dump(), "rules.json");
}

SignalIndex index(Date now) {
  SignalIndex result = SignalIndex::empty();
  for (int i = 0; i < 1000; ++i) {
    DomainSignals signals;
    signals.history[BrowserTarget{"firefox", std::nullopt, std::nullopt, false}] =
        HistoryStat{now.adding(-3600.0 * (i % 50)), 3 + i % 20};
    result.domains["news" + std::to_string(i) + ".example"] = signals;
  }
  return result;
}

// `logEntries` decided entries, opened in the catalog's browsers, as log.json in `folder`.
void writeLog(const std::filesystem::path& folder, int logEntries, Date now) {
  static const char* const kBrowsers[] = {"firefox", "chromium", "other"};
  std::vector<LogEntry> entries;
  for (int i = 0; i < logEntries; ++i) {
    const std::string n = std::to_string(i);
    entries.emplace_back(Uuid::random(), *URL::parse("https://docs.example-" + n + ".com/p/" + n),
                         "org.mozilla.thunderbird", "Inbox (" + n + ")",
                         now.adding(-logEntries + i), DecisionStatus::routed,
                         BrowserTarget{kBrowsers[i % 3]}, "rule “Work docs”",
                         std::vector<std::string>{"rules: matched “Work docs”", "routed"});
  }
  std::filesystem::create_directories(folder);
  Files::writeAtomically(folder / "log.json", LogFile::encode(entries));
}

std::filesystem::path scratchFolder(bool onDisk) {
  return (onDisk || !std::filesystem::is_directory("/dev/shm")
              ? std::filesystem::temp_directory_path()
              : std::filesystem::path("/dev/shm")) /
         "linkferry-router-bench";
}

Router makeRouter(std::shared_ptr<DecisionLog> log, Date now) {
  return Router(RouterState{std::make_shared<const BrowserCatalog>(catalog()),
                            std::make_shared<const RuleSet>(rules()),
                            std::make_shared<const SignalIndex>(index(now)),
                            std::make_shared<const AppSettings>(), LaunchPlatform::linux, nullptr},
                std::move(log), std::make_shared<NoRunner>(), nullptr,
                [](const Router::RuleChange& change) { return change(RuleSet()); });
}

// `onDisk`: the log in the temporary folder, so every record and update pays the disk's fsync;
// otherwise in /dev/shm, which shows LinkFerry's own work.
// `logEntries`: decided entries the log holds before the first click (history kept then).
void routeLinks(benchmark::State& state, const char* link, bool onDisk, int logEntries = 0) {
  const auto folder = scratchFolder(onDisk);
  std::filesystem::remove_all(folder);
  const Date now = Date::now();
  if (logEntries > 0) writeLog(folder, logEntries, now);
  // History off: a decided entry leaves the file, so it stays as small as in steady use. With
  // a log given, history is kept and the log holds that many entries.
  auto log = std::make_shared<DecisionLog>(folder / "log.json", 30, logEntries > 0);
  Router router = makeRouter(log, now);
  const RoutingContext context(std::nullopt, std::nullopt, {}, now, Calendar::current());
  const LinkRequest request(*URL::parse(link), now);
  // The first click after a load near the size limit adds up the entries' sizes once.
  if (const RouterResult first = router.handle(request, context, false, ClickOverride::none());
      first.asPick()) {
    router.cancel(first.id(), std::nullopt);
  }
  for (auto _ : state) {
    const RouterResult result = router.handle(request, context, false, ClickOverride::none());
    // The picker's answer, outside the measurement, so pending entries do not pile up in the
    // log as they never do in use.
    state.PauseTiming();
    if (result.asPick()) router.cancel(result.id(), std::nullopt);
    state.ResumeTiming();
  }
  std::filesystem::remove_all(folder);
}

void BM_HandleRuleDecides(benchmark::State& state) {
  routeLinks(state, "https://www.site99.example/page?id=1&utm_source=x", state.range(0) != 0);
}
BENCHMARK(BM_HandleRuleDecides)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("logOnDisk")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// The same click among 600, 6,000 and 30,000 logged decisions: it should cost the same.
void BM_HandleRuleDecidesWithLog(benchmark::State& state) {
  routeLinks(state, "https://www.site99.example/page?id=1&utm_source=x", false,
             static_cast<int>(state.range(0)));
}
BENCHMARK(BM_HandleRuleDecidesWithLog)
    ->Arg(600)
    ->Arg(6000)
    ->Arg(30000)
    ->ArgName("entries")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// Clicks as they come in use, a few milliseconds apart: the processor time of the whole process
// per click, the time between clicks included (what a worker does while it waits counts).
void BM_HandleSpacedClicks(benchmark::State& state) {
  const auto folder = std::filesystem::temp_directory_path() / "linkferry-router-bench-spaced";
  std::filesystem::remove_all(folder);
  const Date now = Date::now();
  auto log = std::make_shared<DecisionLog>(folder / "log.json", 30, false);
  Router router(RouterState{std::make_shared<const BrowserCatalog>(catalog()),
                            std::make_shared<const RuleSet>(rules()),
                            std::make_shared<const SignalIndex>(index(now)),
                            std::make_shared<const AppSettings>(), LaunchPlatform::linux, nullptr},
                log, std::make_shared<NoRunner>(), nullptr,
                [](const Router::RuleChange& change) { return change(RuleSet()); });
  const RoutingContext context(std::nullopt, std::nullopt, {}, now, Calendar::current());
  const LinkRequest request(*URL::parse("https://www.site99.example/page?id=1"), now);
  auto processSeconds = [] {
    timespec time{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
  };
  const double start = processSeconds();
  for (auto _ : state) {
    benchmark::DoNotOptimize(router.handle(request, context, false, ClickOverride::none()));
    state.PauseTiming();
    std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
    state.ResumeTiming();
  }
  state.counters["processCPUPerClick_us"] =
      (processSeconds() - start) * 1e6 / static_cast<double>(state.iterations());
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_HandleSpacedClicks)
    ->Arg(2)
    ->ArgName("msApart")
    ->Iterations(500)
    ->Unit(benchmark::kMicrosecond);

void BM_HandleHistoryGuessToPicker(benchmark::State& state) {
  routeLinks(state, "https://www.news7.example/today", state.range(0) != 0);
}
BENCHMARK(BM_HandleHistoryGuessToPicker)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("logOnDisk")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// A click that goes to the picker among 600, 6,000 and 30,000 logged decisions, the list ordered
// by use: it should cost the same.
void BM_HandleHistoryGuessToPickerWithLog(benchmark::State& state) {
  routeLinks(state, "https://www.news7.example/today", false, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_HandleHistoryGuessToPickerWithLog)
    ->Arg(600)
    ->Arg(6000)
    ->Arg(30000)
    ->ArgName("entries")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

// The picker's list with 600, 6,000 and 30,000 logged decisions: `decodingAll` builds it as it
// once was, counting uses over every entry of `all()`; otherwise Router::pickerList asks the log
// for its count.
void BM_PickerList(benchmark::State& state) {
  const bool decodingAll = state.range(1) != 0;
  const auto folder = scratchFolder(false);
  std::filesystem::remove_all(folder);
  const Date now = Date::now();
  writeLog(folder, static_cast<int>(state.range(0)), now);
  auto log = std::make_shared<DecisionLog>(folder / "log.json", 30, true);
  const Router router = makeRouter(log, now);
  const std::vector<BrowserTarget> visible =
      AppSettings().orderedTargets(catalog().allTargets());
  for (auto _ : state) {
    if (decodingAll) {
      benchmark::DoNotOptimize(
          PickerOrdering::complete({}, visible, PickerOrdering::usage(log->all()), true));
    } else {
      benchmark::DoNotOptimize(router.pickerList({}));
    }
  }
  if (router.pickerList({}) !=
      PickerOrdering::complete({}, visible, PickerOrdering::usage(log->all()), true)) {
    state.SkipWithError("the two lists differ");
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_PickerList)
    ->ArgsProduct({{600, 6000, 30000}, {1, 0}})
    ->ArgNames({"entries", "decodingAll"})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
