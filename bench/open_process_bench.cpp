// `linkferry open` as the desktop runs it: one whole process per click, with 100 rules, a custom
// browser whose program records its arguments, a Chromium-schema History of 50,000 rows in that
// browser's profile (what the signal index is built from) and a decision log of 6,000 entries
// kept with history. Side by side in the same run: posix_spawn of /bin/true (the floor any
// process pays), `linkferry --version` (loading and static start of the program without
// routing) and, when LINKFERRY_BASELINE names another build's `linkferry`, the same click through
// that program (BM_OpenToRecorderBaseline), in the same world.
//
// BM_ColdProcessBreakdown says where a cold process spends its time: each iteration forks a
// child that has touched nothing of LinkFerry yet and times each step the command takes, in the
// command's own order (suffix list, first regular expression, catalog scan, rules, settings,
// index, decision log, router, source app, context, one decision log write, routing with the
// launch). The dynamic loader's own share before main comes from LD_DEBUG=statistics of the real
// program ("loaderMicros" at the processor's nominal rate).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "LinuxContext.h"
#include "SourceApp.h"
#include "fixtures/BrowserDatabases.h"
#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "foundation/Regex.h"
#include "router/Router.h"
#include "router/RouterSetup.h"
#include "rules/RuleSet.h"
#include "safety/PublicSuffixList.h"
#include "settings/AppSettings.h"
#include "settings/DecisionLog.h"
#include "settings/LinkferryPaths.h"
#include "signals/IndexBuilder.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;

constexpr int kHistoryRows = 50'000;
constexpr int kLogEntries = 6'000;
constexpr int kRules = 100;
// Decided by the last of the 100 rules, so every rule is evaluated.
constexpr const char* kLink = "https://www.site99.example/page?id=1&utm_source=x";

class NoRunner final : public LaunchRunner {
 public:
  void run(const LaunchPlan&) override {}
};

struct Setup {
  fs::path folder;
  std::map<std::string, std::string> environment;

  fs::path home() const { return folder / "home"; }
};

// The temporary home, data folder and recorder browser, written once per process.
const Setup& setup() {
  static const Setup made = [] {
    Setup s;
    s.folder = fs::temp_directory_path() / "linkferry-bench-open-process";
    fs::remove_all(s.folder);
    std::atexit([] { fs::remove_all(fs::temp_directory_path() / "linkferry-bench-open-process"); });
    const fs::path bin = s.folder / "bin", data = s.folder / "data";
    const fs::path profileRoot = s.home() / "recorder";
    fs::create_directories(bin);
    fs::create_directories(data);
    fs::create_directories(profileRoot / "Default");

    const fs::path recorder = bin / "recorder";
    std::ofstream(recorder) << "#!/bin/sh\necho \"$*\" >> '" << (s.folder / "launched.txt").string()
                            << "'\n";
    fs::permissions(recorder, fs::perms::owner_all);

    std::ofstream(profileRoot / "Local State")
        << R"({"profile": {"info_cache": {"Default": {"name": "Personal"}}}})";
    std::vector<fixtures::ChromiumVisit> visits;
    visits.reserve(kHistoryRows);
    const double now = Date::now().secondsSince1970;
    for (int i = 0; i < kHistoryRows; ++i) {
      visits.push_back(
          {"https://www.news" + std::to_string(i % 5000) + ".example/articles/" + std::to_string(i),
           fixtures::chromiumTime(now - 3600.0 * (i % 1000)), 1 + i % 20});
    }
    fixtures::writeChromiumHistory(profileRoot / "Default/History", visits);

    JsonValue browsers = JsonValue::array();
    browsers.push_back({{"id", "recorder"},
                        {"name", "Recorder"},
                        {"family", "chromium"},
                        {"appPath", recorder.string()},
                        {"dataDir", profileRoot.string()}});
    std::ofstream(data / "browsers.json") << browsers.dump();
    JsonValue rules = JsonValue::array();
    for (int i = 0; i < kRules; ++i) {
      rules.push_back({{"name", "rule " + std::to_string(i)},
                       {"match", {{"host", "*.site" + std::to_string(i) + ".example"}}},
                       {"action", {{"open", {{"browser", "recorder"}}}}}});
    }
    std::ofstream(data / "rules.json") << JsonValue({{"version", 1}, {"rules", rules}}).dump();
    // A month of clicks with history kept (each iteration adds its own).
    std::vector<LogEntry> entries;
    for (int i = 0; i < kLogEntries; ++i) {
      const std::string n = std::to_string(i);
      entries.emplace_back(
          Uuid::random(), *URL::parse("https://docs.example-" + n + ".com/issues?sort=updated#c-" + n),
          "org.mozilla.thunderbird", "Re: weekly planning (" + n + ") - Inbox",
          Date{now - 400.0 * (kLogEntries - i)}, DecisionStatus::routed,
          BrowserTarget{"recorder", "Default"}, "rule “Work docs”",
          std::vector<std::string>{"[tracking] removed: utm_source",
                                   "[rules] decided: rule “Work docs” (0.1 ms)"});
    }
    std::ofstream(data / "log.json") << LogFile::encode(entries);
    std::ofstream(data / "settings.json") << "{}";

    s.environment = {{"HOME", s.home().string()},
                     {"LINKFERRY_HOME", data.string()},
                     {"XDG_CONFIG_HOME", (s.home() / ".config").string()},
                     {"XDG_DATA_HOME", (s.home() / ".local/share").string()},
                     {"XDG_DATA_DIRS", "/usr/share"},
                     {"PATH", "/usr/bin:/bin"}};
    return s;
  }();
  return made;
}

// Spawns `program` with `arguments` and the setup's environment, output to /dev/null, and waits.
int spawnAndWait(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& extraEnvironment = {}) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::map<std::string, std::string> variables = setup().environment;
  for (const auto& [name, value] : extraEnvironment) variables[name] = value;
  std::vector<std::string> pairs;
  for (const auto& [name, value] : variables) pairs.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& pair : pairs) envp.push_back(pair.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void runProcess(benchmark::State& state, const std::string& program,
                const std::vector<std::string>& arguments) {
  setup();
  for (auto _ : state) {
    const int status = spawnAndWait(program, arguments);
    if (status != 0) {
      state.SkipWithError((program + " exited with " + std::to_string(status)).c_str());
      return;
    }
  }
}

void BM_SpawnTrue(benchmark::State& state) {
  runProcess(state, "/bin/true", {});
}
BENCHMARK(BM_SpawnTrue)->Unit(benchmark::kMillisecond);

void BM_LinkferryVersion(benchmark::State& state) {
  runProcess(state, LINKFERRY_PROGRAM, {"--version"});
}
BENCHMARK(BM_LinkferryVersion)->Unit(benchmark::kMillisecond);

void BM_OpenDryRun(benchmark::State& state) {
  runProcess(state, LINKFERRY_PROGRAM, {"open", "--dry-run", kLink});
}
BENCHMARK(BM_OpenDryRun)->Unit(benchmark::kMillisecond);

void BM_OpenToRecorder(benchmark::State& state) {
  runProcess(state, LINKFERRY_PROGRAM, {"open", kLink});
}
BENCHMARK(BM_OpenToRecorder)->Unit(benchmark::kMillisecond);

void BM_OpenToRecorderBaseline(benchmark::State& state) {
  const char* baseline = std::getenv("LINKFERRY_BASELINE");
  if (baseline == nullptr || *baseline == '\0') {
    state.SkipWithError("LINKFERRY_BASELINE names no program");
    return;
  }
  runProcess(state, baseline, {"open", kLink});
}
BENCHMARK(BM_OpenToRecorderBaseline)->Unit(benchmark::kMillisecond);

// The dynamic loader's "total startup time in dynamic loader" of one start of the program, in
// processor cycles (LD_DEBUG=statistics writes it to standard error).
double loaderCycles() {
  Process::Options options;
  options.captureOutput = true;
  std::map<std::string, std::string> environment = setup().environment;
  environment["LD_DEBUG"] = "statistics";
  options.environment = environment;
  const auto result = Process::run(LINKFERRY_PROGRAM, {"--version"}, options);
  std::smatch match;
  static const std::regex total("total startup time in dynamic loader: ([0-9]+) cycles");
  return std::regex_search(result.standardError, match, total) ? std::stod(match[1]) : 0;
}

// The processor's nominal rate in cycles per microsecond, from /proc/cpuinfo; 0 when unknown.
double cyclesPerMicrosecond() {
  std::ifstream info("/proc/cpuinfo");
  for (std::string line; std::getline(info, line);) {
    if (line.rfind("cpu MHz", 0) == 0) return std::stod(line.substr(line.find(':') + 1));
  }
  return 0;
}

// The steps of one cold `linkferry open`, timed in a forked child; microseconds each.
constexpr const char* kSteps[] = {"suffixList", "firstRegex", "catalogScan", "rules",
                                  "settings",   "indexBuild", "logOpen",     "router",
                                  "sourceApp",  "context",    "logWrite",    "handle"};
constexpr std::size_t kStepCount = std::size(kSteps);

void timeColdSteps(int output) {
  double micros[kStepCount] = {};
  std::size_t step = 0;
  auto last = std::chrono::steady_clock::now();
  auto done = [&] {
    const auto now = std::chrono::steady_clock::now();
    micros[step++] = std::chrono::duration<double, std::micro>(now - last).count();
    last = now;
  };
  const Setup& s = setup();
  PublicSuffixList::shared();
  done();
  Regex::compile("^a[0-9]+\\.example$", Regex::Options::caseInsensitive);
  done();
  const LinkferryPaths paths = LinkferryPaths::defaultPaths(s.environment, s.home());
  auto catalog = std::make_shared<const BrowserCatalog>(
      RouterSetup::loadCatalog(paths, s.home(), s.environment));
  done();
  auto rules = std::make_shared<const RuleSet>(RuleSet::load(paths.rules()));
  done();
  AppSettings loadedSettings = AppSettings::load(paths.settings());
  loadedSettings.dryRun = true;
  auto settings = std::make_shared<const AppSettings>(loadedSettings);
  done();
  // As the command makes them: the index when a stage first needs it (never, for this link), the
  // log's files read only when a change needs them.
  const IndexBuilder builder{PublicSuffixList::shared(), SessionClassifier(),
                             IndexBuilder::kDefaultHistoryWindow, std::nullopt};
  auto index = std::make_shared<const DeferredIndex>(
      [builder, catalog] { return builder.build(*catalog, Date::now()); });
  done();
  auto log = std::make_shared<DecisionLog>(DecisionLog::DeferLoad{}, paths.log(),
                                           settings->logRetentionDays, settings->keepHistory);
  done();
  Router router(RouterState{catalog, rules, nullptr, settings, LaunchPlatform::linux, index}, log,
                std::make_shared<NoRunner>(), nullptr, [](const Router::RuleChange& change) { return change(RuleSet()); });
  done();
  AncestrySourceAppFinder::forThisProcess(s.home(), s.environment).sourceApp();
  done();
  const RoutingContext context = LinuxContext::current(s.home(), s.environment);
  done();
  {
    DecisionLog other(s.folder / "other-log.json", 30, false);
    const Uuid id = other.record(LinkRequest(*URL::parse(kLink), Date::now()));
    other.update(id, DecisionStatus::routed, std::nullopt, std::string("bench"), {"line"});
  }
  done();
  router.handle(LinkRequest(*URL::parse(kLink), context.now), context, false,
                ClickOverride::none());
  done();
  [[maybe_unused]] auto written = write(output, micros, sizeof micros);
}

void BM_ColdProcessBreakdown(benchmark::State& state) {
  setup();
  double totals[kStepCount] = {};
  std::int64_t runs = 0;
  for (auto _ : state) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
      state.SkipWithError("pipe");
      return;
    }
    const pid_t child = fork();
    if (child == 0) {
      close(pipeEnds[0]);
      timeColdSteps(pipeEnds[1]);
      _exit(0);
    }
    close(pipeEnds[1]);
    double micros[kStepCount] = {};
    const bool complete = read(pipeEnds[0], micros, sizeof micros) == sizeof micros;
    close(pipeEnds[0]);
    waitpid(child, nullptr, 0);
    if (!complete) {
      state.SkipWithError("the child did not report");
      return;
    }
    for (std::size_t i = 0; i < kStepCount; ++i) totals[i] += micros[i];
    ++runs;
  }
  for (std::size_t i = 0; i < kStepCount; ++i) {
    state.counters[std::string(kSteps[i]) + "_us"] = runs ? totals[i] / runs : 0;
  }
  const double rate = cyclesPerMicrosecond();
  const double cycles = loaderCycles();
  state.counters["loaderMicros"] = rate > 0 ? cycles / rate : 0;
}
BENCHMARK(BM_ColdProcessBreakdown)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace linkferry
