// The watcher's costs for the service: starting over a profile-sized tree (one inotify watch per
// folder; a Chromium profile that has browsed for a while holds a few thousand folders under its
// caches and service workers), and the time from a write to its report with no latency, against
// the floor of a pipe round trip between two threads (what any thread hand-off costs).
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "signals/DirectoryWatcher.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Tree {
  explicit Tree(int folders) {
    root = fs::temp_directory_path() / ("linkferry-refresh-bench-" + std::to_string(getpid()));
    fs::remove_all(root);
    // Ten folders per level, like cache shards: 0/0/0 ...
    for (int n = 0; n < folders; ++n) {
      fs::path folder = root;
      for (int rest = n;; rest /= 10) {
        folder /= std::to_string(rest % 10);
        if (rest < 10) break;
      }
      fs::create_directories(folder);
    }
  }
  ~Tree() { fs::remove_all(root); }
  fs::path root;
};

void BM_WatcherStartStop(benchmark::State& state) {
  Tree tree(static_cast<int>(state.range(0)));
  auto watcher = DirectoryWatcher::create({tree.root}, 1000ms, [] {});
  for (auto _ : state) {
    watcher->start();
    watcher->stop();
  }
  state.counters["folders"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_WatcherStartStop)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_WriteToReport(benchmark::State& state) {
  Tree tree(1);
  std::mutex mutex;
  std::condition_variable reported;
  long reports = 0;
  auto watcher = DirectoryWatcher::create({tree.root}, 0ms, [&] {
    {
      std::lock_guard lock(mutex);
      ++reports;
    }
    reported.notify_all();
  });
  watcher->start();
  const auto file = tree.root / "History";
  for (auto _ : state) {
    long before;
    {
      std::lock_guard lock(mutex);
      before = reports;
    }
    std::ofstream(file, std::ios::trunc) << "x";
    std::unique_lock lock(mutex);
    reported.wait(lock, [&] { return reports > before; });
  }
  watcher->stop();
}
BENCHMARK(BM_WriteToReport)->Unit(benchmark::kMicrosecond);

// The floor: one byte through a pipe to a thread that answers through another.
void BM_PipeRoundTrip(benchmark::State& state) {
  int there[2], back[2];
  if (pipe(there) != 0 || pipe(back) != 0) {
    state.SkipWithError("no pipe");
    return;
  }
  std::thread echo([&] {
    char byte;
    while (read(there[0], &byte, 1) == 1 && byte != 'q') {
      if (write(back[1], &byte, 1) != 1) break;
    }
  });
  for (auto _ : state) {
    char byte = 'x';
    if (write(there[1], &byte, 1) != 1 || read(back[0], &byte, 1) != 1) break;
  }
  char quit = 'q';
  if (write(there[1], &quit, 1) != 1) std::perror("pipe");
  echo.join();
  for (int fd : {there[0], there[1], back[0], back[1]}) close(fd);
}
BENCHMARK(BM_PipeRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace linkferry
