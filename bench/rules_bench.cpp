// Evaluating a large rule list against one link, with and without the compiled-pattern cache, and
// loading and saving a large rule file.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <filesystem>
#include <map>
#include <string>

#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"
#include "rules/RuleEvaluator.h"
#include "rules/RuleSet.h"

using namespace linkferry;

namespace {

// `count` rules: every third a regular expression (host, link or window title), the rest host
// patterns, globs, path prefixes and nested all/any/not. None matches the benchmark link, so every
// rule is evaluated in full.
RuleSet mixedRules(int count) {
  RuleSet set;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    Matcher match = Matcher::all({});
    if (i % 3 == 0) {
      switch (i % 9) {
        case 0:
          match = Matcher::hostRegex("^shop" + n + "\\.(example|sample)\\.com$");
          break;
        case 3:
          match = Matcher::urlRegex("https?://[^/]+/items/" + n + "(/|\\?|$)");
          break;
        default:
          match = Matcher::sourceWindow("project-" + n + " \\| (Slack|Teams)");
          break;
      }
    } else {
      switch (i % 5) {
        case 0:
          match = Matcher::host("*.site" + n + ".test");
          break;
        case 1:
          match = Matcher::host("w?w.glob" + n + ".*.test");
          break;
        case 2:
          match = Matcher::pathPrefix("/area" + n + "/");
          break;
        case 3:
          match = Matcher::all(
              {Matcher::host("*.corp" + n + ".example"), Matcher::not_(Matcher::scheme("http")),
               Matcher::any({Matcher::pathPrefix("/docs"), Matcher::query("id" + n)})});
          break;
        default:
          match = Matcher::any(
              {Matcher::all({Matcher::sourceApp("com.app" + n), Matcher::network("net" + n)}),
               Matcher::not_(Matcher::host("*"))});
          break;
      }
    }
    set.rules.push_back(Rule{
        .id = "R" + n,
        .name = "rule " + n,
        .enabled = true,
        .match = std::move(match),
        .action = RuleAction{.kind = RuleActionKind::open(BrowserTarget{.browser = "b" + n,
                                                                        .profile = std::nullopt,
                                                                        .container = std::nullopt,
                                                                        .privateMode = false})},
        .expiresAt = std::nullopt});
  }
  return set;
}

// The rule sets of 1,000 and 10,000 rules, holding their compiled patterns as a loaded set does.
const RuleSet& rules(std::int64_t count = 1000) {
  static const auto& sets = *new std::map<std::int64_t, RuleSet>([] {
    std::map<std::int64_t, RuleSet> made;
    for (int size : {1000, 10000}) {
      RuleSet set = mixedRules(size);
      set.compilePatterns();
      made.emplace(size, std::move(set));
    }
    return made;
  }());
  return sets.at(count);
}

const LinkRequest& request() {
  static const auto& value =
      *new LinkRequest(*URL::parse("https://www.example.org/articles/2026/rules?ref=home"),
                       "com.tinyspeck.slackmacgap", "general | Acme", Date{0});
  return value;
}

// GCC 12 warns falsely that the moved-from empty optionals may be uninitialized (an -O2 inlining
// artefact in std::optional<std::string>).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
const RoutingContext& context() {
  static const auto& value = *new RoutingContext(
      std::nullopt, std::nullopt, {"Home"}, Date{1'796'000'000}, *Calendar::withTimeZone("UTC"));
  return value;
}
#pragma GCC diagnostic pop

// The argument is the rule count. Evaluation must grow linearly with it: the 10,000-rule set's
// 3,334 patterns all stay compiled, past the cache's own 1,024 recent patterns.
void evaluateAll(benchmark::State& state, RuleEvaluator::Patterns patterns) {
  const RuleSet& set = rules(state.range(0));
  for (auto _ : state) {
    RuleEvaluator::Subject subject(request(), context(), patterns);
    int matched = 0;
    for (const Rule& rule : set.rules) matched += RuleEvaluator::matches(rule.match, subject);
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(set.rules.size()));
}

void BM_EvaluateRules_Cached(benchmark::State& state) {
  evaluateAll(state, RuleEvaluator::Patterns::cached);
}
BENCHMARK(BM_EvaluateRules_Cached)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_EvaluateRules_CompiledEachTime(benchmark::State& state) {
  evaluateAll(state, RuleEvaluator::Patterns::compiledEachTime);
}
BENCHMARK(BM_EvaluateRules_CompiledEachTime)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Each rule through the plain entry point, which looks at the link afresh every time.
void BM_Evaluate1000Rules_CachedWithoutSharedSubject(benchmark::State& state) {
  for (auto _ : state) {
    int matched = 0;
    for (const Rule& rule : rules().rules)
      matched += RuleEvaluator::matches(rule.match, request(), context());
    benchmark::DoNotOptimize(matched);
  }
}
BENCHMARK(BM_Evaluate1000Rules_CachedWithoutSharedSubject)->Unit(benchmark::kMicrosecond);

// Loading includes compiling every pattern of the file.
void BM_LoadRuleFile(benchmark::State& state) {
  const std::string text = rules(state.range(0)).encode();
  for (auto _ : state) benchmark::DoNotOptimize(RuleSet::decode(text, "rules.json"));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_LoadRuleFile)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_Save1000RuleFile(benchmark::State& state) {
  const auto folder = std::filesystem::temp_directory_path() /
                      ("linkferry-rules-bench-" + std::to_string(getpid()));
  for (auto _ : state) rules().save(folder / "rules.json");
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Save1000RuleFile)->Unit(benchmark::kMicrosecond);

void BM_Encode1000RuleFile(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(rules().encode());
}
BENCHMARK(BM_Encode1000RuleFile)->Unit(benchmark::kMicrosecond);

}  // namespace
