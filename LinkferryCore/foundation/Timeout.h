#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace linkferry {

namespace TimeoutWorkers {

// Runs `job` on one of a few long-lived worker threads. When every worker is busy (an operation
// that overran its limit may hold one for good) a new worker is started, so a job never waits for
// another to finish. Idle workers sleep until a job comes (they use no processor time while
// waiting); beyond a handful they leave. Workers are never joined: they may still run while the
// program exits, so a job must own everything it touches. `job` must not throw.
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
    race->finished.notify_all();
  });

  // The caller sleeps until the result or the limit: a wake-up through the scheduler costs a few
  // microseconds, where watching for the result would burn the processor the operation needs.
  std::unique_lock lock(race->mutex);
  race->finished.wait_for(lock, limit, [&] { return race->done; });
  race->done = true;  // a late result is dropped from now on
  return std::move(race->result);
}

}  // namespace linkferry
