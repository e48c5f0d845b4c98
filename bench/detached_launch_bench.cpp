// The cost of one detached launch from a process the size of the running service (about 50 MB of
// touched heap, a dozen threads), measured on a program that exits at once: what a click pays when
// the browser hands the link to its running instance. The bare posix_spawn and fork of /bin/true
// from the same process are the yardsticks: a launch that copies the process costs like the forks.
//
// On the 2-core development machine under load (real time, per launch; ratio to posixSpawnTrue):
//   double fork with a relay:  launchDetached  8.9-9.7 ms (6.4-6.7x), the runner  9.8-14 ms
//   posix_spawn and a reaper:  launchDetached  1.7-2.0 ms (1.3-1.5x), the runner  2.0-2.6 ms
//   (posixSpawnTrue 1.3-1.5 ms, forkForkExecTrue 6.0-8.2 ms in the same runs)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "foundation/Process.h"
#include "launching/DetachedLaunchRunner.h"
#include "launching/LaunchPlan.h"

extern char** environ;

namespace {

using namespace linkferry;

constexpr std::size_t kHeapBytes = 50u << 20;
constexpr int kIdleThreads = 10;

// Grows this process like the service: touched heap in many small blocks, and idle threads.
struct ServiceSizedProcess {
  std::vector<std::unique_ptr<char[]>> blocks;
  std::mutex mutex;
  std::condition_variable never;

  ServiceSizedProcess() {
    constexpr std::size_t kBlock = 64 << 10;
    for (std::size_t total = 0; total < kHeapBytes; total += kBlock) {
      blocks.emplace_back(new char[kBlock]);
      std::memset(blocks.back().get(), 1, kBlock);
    }
    for (int i = 0; i < kIdleThreads; ++i) {
      std::thread([this] {
        std::unique_lock lock(mutex);
        never.wait(lock, [] { return false; });
      }).detach();
    }
  }
};

ServiceSizedProcess& grown() {
  static auto* process = new ServiceSizedProcess;
  return *process;
}

void waitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
}

void posixSpawnTrue(benchmark::State& state) {
  grown();
  char program[] = "/bin/true";
  char* argv[] = {program, nullptr};
  for (auto _ : state) {
    pid_t pid = 0;
    if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      break;
    }
    waitFor(pid);
  }
}
BENCHMARK(posixSpawnTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Fork, fork again, exec: the shape of a launch that detaches by double forking.
void forkForkExecTrue(benchmark::State& state) {
  grown();
  char program[] = "/bin/true";
  char* argv[] = {program, nullptr};
  for (auto _ : state) {
    pid_t pid = ::fork();
    if (pid == 0) {
      pid_t inner = ::fork();
      if (inner == 0) {
        ::execve(program, argv, environ);
        ::_exit(127);
      }
      int status = 0;
      if (inner > 0) ::waitpid(inner, &status, 0);
      ::_exit(0);
    }
    waitFor(pid);
  }
}
BENCHMARK(forkForkExecTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

void launchDetachedTrue(benchmark::State& state) {
  grown();
  for (auto _ : state) {
    auto result = Process::launchDetached("/bin/true", {}, std::chrono::milliseconds(1500));
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(launchDetachedTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

// What the service does for a click: the plan through the runner, with the environment cleaned.
void detachedLaunchRunnerTrue(benchmark::State& state) {
  grown();
  DetachedLaunchRunner runner;
  const LaunchPlan plan("/bin/true", {"https://a.test/"}, {});
  for (auto _ : state) runner.run(plan);
}
BENCHMARK(detachedLaunchRunnerTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
