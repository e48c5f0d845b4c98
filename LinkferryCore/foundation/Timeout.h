#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace linkferry {

// How long withTimeout watches for a quick result before it sleeps on it.
inline constexpr std::chrono::steady_clock::duration kTimeoutWatch = std::chrono::microseconds(200);

namespace TimeoutWorkers {

// Runs `job` on one of a few long-lived worker threads. When every worker is busy (an operation
// that overran its limit may hold one for good) a new worker is started, so a job never waits for
// another to finish. Idle workers beyond a handful leave. Workers are never joined: they may still
// run while the program exits, so a job must own everything it touches. `job` must not throw.
void run(std::function<void()> job);

}  // namespace TimeoutWorkers

// Runs `operation` on a worker thread and returns its result, or nothing when `limit` passes first
// or the operation throws. The loser is neither joined nor cancelled: an operation that overruns
// keeps running and its late result is dropped. So the operation must own everything it touches
// (copies or shared_ptr), never refer to the caller's stack.
template <class T>
std::optional<T> withTimeout(std::chrono::steady_clock::duration limit,
                             std::function<T()> operation) {
  struct Race {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<bool> delivered = false;  // `done` set by the operation, readable without the lock
    std::optional<T> result;
  };
  auto race = std::make_shared<Race>();
  TimeoutWorkers::run([race, operation = std::move(operation)]() mutable {
    std::optional<T> value;
    try {
      value.emplace(operation());
    } catch (...) {
      // An operation that fails delivers no result, as if it had timed out.
    }
    std::lock_guard lock(race->mutex);
    if (race->done) return;
    race->done = true;
    race->result = std::move(value);
    race->delivered.store(true, std::memory_order_release);
    race->finished.notify_all();
  });

  // Most operations finish in microseconds: watching for the result a moment before sleeping
  // saves being woken through the scheduler.
  const auto watchUntil = std::chrono::steady_clock::now() + std::min(limit, kTimeoutWatch);
  while (!race->delivered.load(std::memory_order_acquire) &&
         std::chrono::steady_clock::now() < watchUntil) {
    std::this_thread::yield();
  }
  std::unique_lock lock(race->mutex);
  race->finished.wait_for(lock, limit, [&] { return race->done; });
  race->done = true;  // a late result is dropped from now on
  return std::move(race->result);
}

}  // namespace linkferry
