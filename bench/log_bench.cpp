// The decision log at its usual largest and past it: reading 6,000 entries (about 3 MB) with the
// log's own reader and with the generic JSON parser on the same bytes; a one-click process's
// record and update with the files loaded and with the load deferred; and the memory the log
// holds after 20,000 clicks recorded through it with the default limits ("heldHeap", heap bytes
// the log keeps, and "heldPerEntry"; "rssGrowth", the process's resident growth). And the
// picker's count of uses over 6,000 entries: kept by the log, and counted over every entry.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "HeapPeak.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "settings/DecisionLog.h"
#include "settings/PickerModel.h"

using namespace linkferry;

namespace {

using Folder = BenchFolder;

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

std::string logText(int count) {
  const Date now = Date::now();
  std::vector<LogEntry> entries;
  for (int i = 0; i < count; ++i) entries.push_back(entry(i, now.adding(-count + i)));
  return LogFile::encode(entries);
}

void BM_LogDecodeOwn(benchmark::State& state) {
  const std::string text = logText(6000);
  for (auto _ : state) benchmark::DoNotOptimize(LogFile::decode(text, "log.json"));
}
BENCHMARK(BM_LogDecodeOwn)->Unit(benchmark::kMillisecond);

void BM_LogDecodeGeneric(benchmark::State& state) {
  const std::string text = logText(6000);
  for (auto _ : state) benchmark::DoNotOptimize(LogFile::decodeGeneric(text, "log.json"));
}
BENCHMARK(BM_LogDecodeGeneric)->Unit(benchmark::kMillisecond);

// What a load does with the text: checked by the log's own reader, entries not built.
void BM_LogScan(benchmark::State& state) {
  const std::string text = logText(6000);
  for (auto _ : state) benchmark::DoNotOptimize(LogFile::scan(text));
}
BENCHMARK(BM_LogScan)->Unit(benchmark::kMillisecond);

// The whole load of log.json by the log (read, checked, kept).
void BM_LogLoad6000(benchmark::State& state) {
  Folder folder;
  const auto file = folder.path / "log.json";
  Files::writeAtomically(file, logText(6000));
  for (auto _ : state) {
    DecisionLog log(file, 30, true);
    benchmark::DoNotOptimize(log.lastError());
  }
}
BENCHMARK(BM_LogLoad6000)->Unit(benchmark::kMillisecond);

// One click of a process that ends after it: the log made, the link recorded and updated.
void click(benchmark::State& state, bool deferred) {
  Folder folder;
  const auto file = folder.path / "log.json";
  Files::writeAtomically(file, logText(6000));
  const LinkRequest request(*URL::parse("https://www.site99.example/page?id=1"), Date::now());
  for (auto _ : state) {
    auto log = deferred ? std::make_unique<DecisionLog>(DecisionLog::DeferLoad{}, file, 30, true)
                        : std::make_unique<DecisionLog>(file, 30, true);
    const Uuid id = log->record(request);
    log->update(id, DecisionStatus::routed, BrowserTarget{"recorder"}, "rule “site99”",
                {"[rules] decided: rule “site99” (0.1 ms)"});
  }
}
void BM_ClickLoaded(benchmark::State& state) { click(state, false); }
BENCHMARK(BM_ClickLoaded)->Unit(benchmark::kMillisecond);
void BM_ClickDeferred(benchmark::State& state) { click(state, true); }
BENCHMARK(BM_ClickDeferred)->Unit(benchmark::kMillisecond);

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// 20,000 clicks through one log with the default retention and limits, as a service takes them.
void BM_LogHeldAfter20000Clicks(benchmark::State& state) {
  for (auto _ : state) {
    Folder folder;
    const long rssBefore = residentKilobytes();
    const std::int64_t heapBefore = HeapPeak::inUse();
    DecisionLog log(folder.path / "log.json", 30, true);
    for (int n = 0; n < 20000; ++n) {
      const LogEntry sample = entry(n, Date::now());
      const Uuid id = log.record(sample.request());
      log.update(id, sample.status, sample.target, sample.reason, sample.trace);
    }
    const double held = static_cast<double>(HeapPeak::inUse() - heapBefore);
    state.counters["heldHeap"] = held;
    state.counters["heldPerEntry"] = held / static_cast<double>(log.recent(30000).size());
    state.counters["rssGrowth"] = static_cast<double>(residentKilobytes() - rssBefore) * 1024;
    state.counters["fileBytes"] = static_cast<double>(std::filesystem::file_size(log.file()));
  }
}
BENCHMARK(BM_LogHeldAfter20000Clicks)->Iterations(1)->Unit(benchmark::kMillisecond);

// The count of uses the picker orders by, with 6,000 entries in three browsers' profiles:
// `decodingAll` counts over every entry of `all()`, otherwise the log answers from its own count.
void BM_LogUsage6000(benchmark::State& state) {
  Folder folder;
  const auto file = folder.path / "log.json";
  const Date now = Date::now();
  std::vector<LogEntry> entries;
  for (int i = 0; i < 6000; ++i) {
    LogEntry sample = entry(i, now.adding(-6000 + i));
    sample.target->profile = "profile " + std::to_string(i % 3);
    entries.push_back(std::move(sample));
  }
  Files::writeAtomically(file, LogFile::encode(entries));
  DecisionLog log(file, 30, true);
  const bool decodingAll = state.range(0) != 0;
  for (auto _ : state) {
    if (decodingAll) {
      benchmark::DoNotOptimize(PickerOrdering::usage(log.all()));
    } else {
      benchmark::DoNotOptimize(log.usage());
    }
  }
  if (log.usage() != PickerOrdering::usage(log.all())) state.SkipWithError("the counts differ");
}
BENCHMARK(BM_LogUsage6000)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("decodingAll")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
