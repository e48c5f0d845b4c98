// Evaluating a large rule list against links, with and without the compiled-pattern cache,
// loading a large rule file, and saving one. The sizes are 1,000 and 10,000 rules: the time of
// 10,000 should stay within about 12 times the time of 1,000 (read the two rows of one run side by
// side; the machine is shared).
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "router/RulesStage.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"
#include "rules/RuleEvaluator.h"
#include "rules/RuleSet.h"
#include "rules/URLRewriter.h"

using namespace linkferry;

namespace {

// A rule list as users grow one: mostly hosts (exact, "*." domains, a few globs), then source
// apps, path prefixes, combinations, regular expressions over the host, the link and the window
// title, queries, schemes, networks and time windows; mostly opening browsers, some prompting,
// opening apps, ignoring and rewriting, a few disabled or expired, a few naming browsers this
// machine lacks. Hosts, paths and apps are drawn from vocabularies that grow with the list, so
// nearly every rule has its own. `links` holds links aimed at rules all over the list and links
// that no rule matches, so the stage walks the list to varying depths.
struct Workload {
  RuleSet set;
  std::vector<LinkRequest> links;
  std::shared_ptr<const std::set<std::string>> knownBrowsers;
};

class Generator {
 public:
  explicit Generator(int count) : m_random(static_cast<unsigned>(count)), m_count(count) {}

  Workload make() {
    Workload work;
    struct Aim {
      std::string host, path, app;
    };
    std::vector<Aim> aims;
    for (int i = 0; i < m_count; ++i) {
      const std::string n = std::to_string(i);
      Aim aim{domain(), "/" + word() + "/" + word(), app()};
      const std::string& host = aim.host;
      Matcher match = Matcher::all({});
      const int kind = pick(100);
      if (kind < 18) {
        aim.host = word() + "." + host;
        match = Matcher::host(pick(4) == 0 ? upper(aim.host) : aim.host);
      } else if (kind < 36) {
        match = Matcher::host("*." + host);
        aim.host = word() + "." + host;
      } else if (kind < 41) {
        match = Matcher::host(pick(2) ? "w?w." + host : word() + "*." + host);
        aim.host = "www." + host;
      } else if (kind < 49) {
        match = Matcher::pathPrefix(aim.path.substr(0, aim.path.size() - 2));
      } else if (kind < 54) {
        match = Matcher::hostRegex("^(www\\.)?" + escape(host) + "$");
      } else if (kind < 59) {
        match = Matcher::urlRegex("https?://[^/]*" + escape(host) + aim.path + "(/|\\?|$)");
      } else if (kind < 62) {
        match = Matcher::sourceWindow("project-" + n + " \\| (Slack|Teams)");
      } else if (kind < 72) {
        match = Matcher::sourceApp(aim.app);
      } else if (kind < 73) {
        match = Matcher::scheme(pick(2) ? "zoommtg" : "slack");
      } else if (kind < 77) {
        match =
            Matcher::query("id" + n, pick(2) ? std::optional<std::string>(word()) : std::nullopt);
      } else if (kind < 79) {
        match = Matcher::network("net-" + word());
      } else if (kind < 81) {
        match = Matcher::all(
            {Matcher::timeWindow(TimeWindow{
                 .days = std::vector<std::int64_t>{1 + pick(7)}, .start = "09:00", .end = "17:00"}),
             Matcher::host("*." + host)});
      } else if (kind < 89) {
        match = Matcher::all({Matcher::host("*." + host), Matcher::pathPrefix(aim.path)});
      } else if (kind < 93) {
        match = Matcher::all({Matcher::sourceApp(aim.app), Matcher::host(host)});
      } else if (kind < 97) {
        match = Matcher::any({Matcher::host(host), Matcher::host("*." + domain())});
      } else {
        match =
            Matcher::all({Matcher::sourceApp(aim.app), Matcher::not_(Matcher::host("*." + host))});
      }
      if (kind >= 36) aim.host = host;
      aims.push_back(aim);
      work.set.rules.push_back(
          Rule{.id = "R" + n,
               .name = "rule " + n,
               .enabled = pick(50) != 0,
               .match = std::move(match),
               .action = action(),
               .expiresAt = pick(50) == 0 ? std::optional(Date{1'700'000'000}) : std::nullopt});
    }
    for (int i = 0; i < 64; ++i) {
      const bool aimed = i % 2 == 0;
      const Aim aim = aimed ? aims[static_cast<std::size_t>(pick(m_count))]
                            : Aim{"www." + word() + ".example", "/" + word(), app()};
      work.links.emplace_back(*URL::parse("https://" + aim.host + aim.path + "?ref=" + word()),
                              aim.app, "general | Acme", Date{0});
    }
    work.knownBrowsers = std::make_shared<const std::set<std::string>>(
        std::set<std::string>{"firefox", "chromium", "brave", "vivaldi"});
    return work;
  }

 private:
  int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(m_random); }

  std::string word() {
    static constexpr const char* kSyllables[] = {"ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo",
                                                 "ba", "de", "fi", "go", "hu", "ja", "pe", "zu"};
    std::string text;
    for (int i = 0, n = 2 + pick(3); i < n; ++i) text += kSyllables[pick(16)];
    return text;
  }
  std::string domain() {
    static constexpr const char* kTLDs[] = {"com", "org", "net", "io", "de", "co.uk", "test"};
    return word() + std::to_string(pick(m_count)) + "." + kTLDs[pick(7)];
  }
  std::string app() {
    return "com." + word() + "." + std::to_string(pick(std::max(m_count / 10, 1)));
  }
  static std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  }
  static std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '.') out += '\\';
      out += c;
    }
    return out;
  }
  RuleAction action() {
    static constexpr const char* kBrowsers[] = {"firefox", "chromium", "brave", "vivaldi"};
    const int kind = pick(100);
    BrowserTarget target{
        .browser = kind < 3 ? "netsurf" : kBrowsers[pick(4)],
        .profile = pick(3) ? std::optional<std::string>("Profile " + std::to_string(pick(5)))
                           : std::nullopt,
        .container = std::nullopt,
        .privateMode = pick(10) == 0};
    if (kind < 80) return RuleAction{.kind = RuleActionKind::open(target)};
    if (kind < 87) return RuleAction{.kind = RuleActionKind::prompt({target, target})};
    if (kind < 92) return RuleAction{.kind = RuleActionKind::openInApp("com." + word())};
    if (kind < 95) return RuleAction{.kind = RuleActionKind::ignore()};
    return RuleAction{.kind = RuleActionKind::rewrite(URLRewrite::host(word() + ".example"))};
  }

  std::mt19937 m_random;
  int m_count;
};

// The workloads of 1,000 and 10,000 rules, holding their compiled patterns as a loaded set does.
const Workload& workload(std::int64_t count) {
  static const auto& made = *new std::map<std::int64_t, Workload>([] {
    std::map<std::int64_t, Workload> sets;
    for (int size : {1000, 10000}) {
      Workload work = Generator(size).make();
      work.set.compilePatterns();
      sets.emplace(size, std::move(work));
    }
    return sets;
  }());
  return made.at(count);
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

// The rules stage as the router runs it, over every link of the workload; the argument is the rule
// count. Items are links.
void BM_RulesStage(benchmark::State& state) {
  const Workload& work = workload(state.range(0));
  const RulesStage stage(std::make_shared<const RuleSet>(work.set), work.knownBrowsers);
  for (auto _ : state) {
    for (const LinkRequest& link : work.links) {
      benchmark::DoNotOptimize(stage.evaluate(link, context()));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(work.links.size()));
}
BENCHMARK(BM_RulesStage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Making the stage for a rule set, which the router does whenever its state changes.
void BM_MakeRulesStage(benchmark::State& state) {
  const Workload& work = workload(state.range(0));
  const auto set = std::make_shared<const RuleSet>(work.set);
  for (auto _ : state) benchmark::DoNotOptimize(RulesStage(set, work.knownBrowsers));
}
BENCHMARK(BM_MakeRulesStage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Link preparation's pass over the rewrite rules, over every link of the workload. Items are
// links.
void BM_RewriteRules(benchmark::State& state) {
  const Workload& work = workload(state.range(0));
  for (auto _ : state) {
    for (const LinkRequest& link : work.links) {
      benchmark::DoNotOptimize(URLRewriter::apply(work.set, link, context()));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(work.links.size()));
}
BENCHMARK(BM_RewriteRules)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The same through the index of the rules.
void BM_RewriteRulesIndexed(benchmark::State& state) {
  const Workload& work = workload(state.range(0));
  const RuleIndex index(work.set.rules);
  for (auto _ : state) {
    for (const LinkRequest& link : work.links) {
      benchmark::DoNotOptimize(URLRewriter::apply(work.set, index, link, context()));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(work.links.size()));
}
BENCHMARK(BM_RewriteRulesIndexed)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Every condition of the list against one link that none of them matches: the plain in-order
// walk, whose time grows with the rule count alone.
void evaluateAll(benchmark::State& state, RuleEvaluator::Patterns patterns) {
  const Workload& work = workload(state.range(0));
  const LinkRequest& link = work.links[1];
  for (auto _ : state) {
    RuleEvaluator::Subject subject(link, context(), patterns);
    int matched = 0;
    for (const Rule& rule : work.set.rules) matched += RuleEvaluator::matches(rule.match, subject);
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(work.set.rules.size()));
}

void BM_EvaluateRules_Cached(benchmark::State& state) {
  evaluateAll(state, RuleEvaluator::Patterns::cached);
}
BENCHMARK(BM_EvaluateRules_Cached)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_EvaluateRules_CompiledEachTime(benchmark::State& state) {
  evaluateAll(state, RuleEvaluator::Patterns::compiledEachTime);
}
BENCHMARK(BM_EvaluateRules_CompiledEachTime)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Loading includes compiling every pattern of the file; the workload keeps the same patterns
// alive, as a running service keeps its current rules while it reloads the file.
void BM_LoadRuleFile(benchmark::State& state) {
  const std::string text = workload(state.range(0)).set.encode();
  for (auto _ : state) benchmark::DoNotOptimize(RuleSet::decode(text, "rules.json"));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_LoadRuleFile)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_Save1000RuleFile(benchmark::State& state) {
  const auto folder = std::filesystem::temp_directory_path() /
                      ("linkferry-rules-bench-" + std::to_string(getpid()));
  for (auto _ : state) workload(1000).set.save(folder / "rules.json");
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Save1000RuleFile)->Unit(benchmark::kMicrosecond);

void BM_Encode1000RuleFile(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(workload(1000).set.encode());
}
BENCHMARK(BM_Encode1000RuleFile)->Unit(benchmark::kMicrosecond);

}  // namespace
