// Loading and saving the settings file, and the decision log at its usual largest: loading 6,000
// entries (about 3 MB), alone and with a full journal, and one `record` or `update` among them
// (a line appended to the journal, and now and then log.json rewritten). The loads also report
// the heap they need: "peakHeap" at its highest during the load, "heldHeap" what the loaded log
// keeps, each also per byte of log.json ("peakPerByte", "heldPerByte").
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFolder.h"
#include "HeapPeak.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "settings/AppSettings.h"
#include "settings/DecisionLog.h"

using namespace linkferry;

namespace {

using Folder = BenchFolder;

AppSettings typicalSettings() {
  AppSettings settings;
  for (int i = 0; i < 12; ++i) {
    settings.targetOrder.push_back(BrowserTarget{"browser-" + std::to_string(i), "Profile 1"});
  }
  settings.hiddenTargets = {BrowserTarget{"chromium", "Guest Profile"}};
  settings.forceHTTPSExceptions = {"intranet.test", "printer.local"};
  settings.appLinkOverrides = {{"zoom", false}, {"spotify", true}};
  settings.focusDefault = FocusDefault{BrowserTarget{"firefox", "work"}, false};
  return settings;
}

// About 500 bytes an entry, like a routed link with its reasons and trace.
LogEntry entry(int n, Date receivedAt) {
  const std::string id = std::to_string(n);
  return LogEntry(Uuid::random(),
                  *URL::parse("https://docs.example-" + id + ".com/projects/" + id +
                              "/issues?filter=open&sort=updated#comment-" + id),
                  "org.mozilla.thunderbird", "Re: weekly planning (" + id + ") - Inbox", receivedAt,
                  DecisionStatus::routed, BrowserTarget{"firefox", "work", "2"},
                  "rule “Work docs”",
                  {"[unwrap] no wrapper", "[tracking] removed utm_source, utm_medium",
                   "rules: matched “Work docs” (host *.example-" + id + ".com)",
                   "launch: firefox -P work --new-tab", "routed in 3 ms"});
}

std::filesystem::path writeLog(const Folder& folder, int count) {
  const Date now = Date::now();
  std::vector<LogEntry> entries;
  for (int i = 0; i < count; ++i) entries.push_back(entry(i, now.adding(-count + i)));
  const auto file = folder.path / "log.json";
  Files::writeAtomically(file, LogFile::encode(entries));
  return file;
}

void BM_SettingsLoad(benchmark::State& state) {
  Folder folder;
  const auto file = folder.path / "settings.json";
  typicalSettings().save(file);
  for (auto _ : state) benchmark::DoNotOptimize(AppSettings::load(file));
}
BENCHMARK(BM_SettingsLoad)->Unit(benchmark::kMicrosecond);

void BM_SettingsSave(benchmark::State& state) {
  Folder folder;
  const auto file = folder.path / "settings.json";
  const AppSettings settings = typicalSettings();
  for (auto _ : state) settings.save(file);
}
BENCHMARK(BM_SettingsSave)->Unit(benchmark::kMicrosecond);

// The heap one load of the log at `file` needs, as counters of `state`.
void reportHeap(benchmark::State& state, const std::filesystem::path& file) {
  if (!HeapPeak::active()) return;
  const double bytes = static_cast<double>(std::filesystem::file_size(file));
  const std::int64_t before = HeapPeak::inUse();
  HeapPeak::startWindow();
  std::int64_t held = 0;
  {
    DecisionLog log(file, 3650, true);
    held = HeapPeak::inUse() - before;
    benchmark::DoNotOptimize(log.lastError());
  }
  const auto peak = static_cast<double>(HeapPeak::windowPeak());
  state.counters["peakHeap"] = peak;
  state.counters["heldHeap"] = static_cast<double>(held);
  state.counters["peakPerByte"] = peak / bytes;
  state.counters["heldPerByte"] = static_cast<double>(held) / bytes;
}

void BM_LogLoad(benchmark::State& state) {
  Folder folder;
  const auto file = writeLog(folder, static_cast<int>(state.range(0)));
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  for (auto _ : state) {
    DecisionLog log(file, 30, true);
    benchmark::DoNotOptimize(log.lastError());
  }
  reportHeap(state, file);
}
// The usual largest log, and one near the size limit.
BENCHMARK(BM_LogLoad)->Arg(6000)->Arg(30000)->Unit(benchmark::kMillisecond);

// What a loaded log keeps, and what it keeps once it has rewritten log.json (each entry then
// holds its bytes in the file too, so that the next rewrite encodes only what changed).
void BM_LogHeldAfterRewrite(benchmark::State& state) {
  Folder folder;
  const auto file = writeLog(folder, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const std::int64_t before = HeapPeak::inUse();
    DecisionLog log(file, 3650, true, &Date::now, 1);
    const std::int64_t loaded = HeapPeak::inUse() - before;
    log.record(LinkRequest(*URL::parse("https://example.com/"), Date::now()));  // rewrites
    const std::int64_t rewritten = HeapPeak::inUse() - before;
    state.counters["heldPerEntry"] =
        static_cast<double>(loaded) / static_cast<double>(state.range(0));
    state.counters["heldPerEntryAfterRewrite"] =
        static_cast<double>(rewritten) / static_cast<double>(state.range(0));
  }
  if (!HeapPeak::active()) state.SkipWithError("no heap counting in this build");
}
BENCHMARK(BM_LogHeldAfterRewrite)->Arg(6000)->Iterations(1)->Unit(benchmark::kMillisecond);

// What every start of the router does: load, then set the retention and history the settings
// say (the same as the log's: nothing to write).
void BM_LogLoadAndSetRetention(benchmark::State& state) {
  Folder folder;
  const auto file = writeLog(folder, 6000);
  for (auto _ : state) {
    DecisionLog log(file, 30, true);
    log.setKeepHistory(true);
    log.setRetention(30);
    benchmark::DoNotOptimize(log.lastError());
  }
}
BENCHMARK(BM_LogLoadAndSetRetention)->Unit(benchmark::kMillisecond);

// One click as the router logs it: the arrival recorded, then decided like `entry`'s.
void logClick(DecisionLog& log, int n) {
  static const LogEntry sample = entry(0, Date::now());
  const Uuid id = log.record(LinkRequest(*URL::parse("https://example.com/" + std::to_string(n)),
                                         sample.sourceApp, sample.sourceWindow, Date::now()));
  log.update(id, DecisionStatus::routed, sample.target, sample.reason, sample.trace);
}

// log.json with 6,000 entries and a journal of clicks just short of its limit.
void BM_LogLoadWithJournal(benchmark::State& state) {
  Folder folder;
  const auto file = writeLog(folder, 6000);
  {
    DecisionLog log(file, 30, true);
    const auto journal = log.journalFile();
    for (int n = 0; !std::filesystem::exists(journal) ||
                    std::filesystem::file_size(journal) + 2000 < DecisionLog::kJournalLimit;
         ++n) {
      logClick(log, n);
    }
    state.counters["journal"] = static_cast<double>(std::filesystem::file_size(journal));
  }
  for (auto _ : state) {
    DecisionLog log(file, 30, true);
    benchmark::DoNotOptimize(log.lastError());
  }
  reportHeap(state, file);
}
BENCHMARK(BM_LogLoadWithJournal)->Unit(benchmark::kMillisecond);

// Through enough clicks that the rewrites of log.json are in the average, among 600, 6,000
// (the usual largest) and 30,000 entries (near the size limit): a click should cost the same.
void BM_LogClick(benchmark::State& state) {
  Folder folder;
  DecisionLog log(writeLog(folder, static_cast<int>(state.range(0))), 30, true);
  // The first change after a load near the size limit adds up the entries' sizes once.
  logClick(log, 0);
  int n = 0;
  for (auto _ : state) logClick(log, ++n);
  if (log.lastError()) state.SkipWithError(log.lastError()->c_str());
}
BENCHMARK(BM_LogClick)
    ->Arg(600)
    ->Arg(6000)
    ->Arg(30000)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(3000);

// A click's own work without the periodic rewrite of log.json (a journal that never fills):
// record, update, and the entry read back, as the service does for every link.
void BM_LogClickJournalOnly(benchmark::State& state) {
  Folder folder;
  DecisionLog log(writeLog(folder, static_cast<int>(state.range(0))), 30, true, &Date::now,
                  std::uint64_t{1} << 40);
  static const LogEntry sample = entry(0, Date::now());
  logClick(log, 0);
  int n = 0;
  for (auto _ : state) {
    const URL link = *URL::parse("https://example.com/" + std::to_string(++n));
    const Uuid id =
        log.record(LinkRequest(link, sample.sourceApp, sample.sourceWindow, Date::now()));
    log.update(id, DecisionStatus::routed, sample.target, sample.reason, sample.trace);
    benchmark::DoNotOptimize(log.entry(id));
  }
  if (log.lastError()) state.SkipWithError(log.lastError()->c_str());
}
BENCHMARK(BM_LogClickJournalOnly)
    ->Arg(600)
    ->Arg(6000)
    ->Arg(30000)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(1000);

void BM_LogRecord(benchmark::State& state) {
  Folder folder;
  DecisionLog log(writeLog(folder, 6000), 30, true);
  const LinkRequest request(*URL::parse("https://example.com/new"), "com.app", std::nullopt,
                            Date::now());
  for (auto _ : state) benchmark::DoNotOptimize(log.record(request));
  if (log.lastError()) state.SkipWithError(log.lastError()->c_str());
}
BENCHMARK(BM_LogRecord)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_LogUpdate(benchmark::State& state) {
  Folder folder;
  DecisionLog log(writeLog(folder, 6000), 30, true);
  const Uuid id = log.record(LinkRequest(*URL::parse("https://example.com/new"), Date::now()));
  for (auto _ : state) {
    log.update(id, DecisionStatus::picked, BrowserTarget{"firefox"}, "picked", {});
  }
  if (log.lastError()) state.SkipWithError(log.lastError()->c_str());
}
BENCHMARK(BM_LogUpdate)->Unit(benchmark::kMillisecond)->Iterations(200);

// The two encoders of the same 6,000 entries.
void BM_LogEncodeOwn(benchmark::State& state) {
  std::vector<LogEntry> entries;
  for (int i = 0; i < 6000; ++i) entries.push_back(entry(i, Date::now()));
  for (auto _ : state) benchmark::DoNotOptimize(LogFile::encode(entries));
}
BENCHMARK(BM_LogEncodeOwn)->Unit(benchmark::kMillisecond);

void BM_LogEncodeGeneric(benchmark::State& state) {
  std::vector<LogEntry> entries;
  for (int i = 0; i < 6000; ++i) entries.push_back(entry(i, Date::now()));
  for (auto _ : state) {
    JsonValue list = JsonValue::array();
    for (const LogEntry& item : entries) list.push_back(item.toJson());
    benchmark::DoNotOptimize(Json::encodeCompact(list));
  }
}
BENCHMARK(BM_LogEncodeGeneric)->Unit(benchmark::kMillisecond);

}  // namespace
