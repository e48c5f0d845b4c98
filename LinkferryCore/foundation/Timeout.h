#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace linkferry {

// Runs `operation` on its own thread and returns its result, or nothing when `limit` passes first.
// The loser is neither joined nor cancelled: an operation that overruns keeps running detached and
// its late result is dropped. So the operation must own everything it touches (copies or
// shared_ptr), never refer to the caller's stack.
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
  std::thread([race, operation = std::move(operation)]() mutable {
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
  }).detach();

  std::unique_lock lock(race->mutex);
  race->finished.wait_for(lock, limit, [&] { return race->done; });
  race->done = true;  // a late result is dropped from now on
  return std::move(race->result);
}

}  // namespace linkferry
