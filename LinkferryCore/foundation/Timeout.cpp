#include "foundation/Timeout.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace linkferry::TimeoutWorkers {
namespace {

// Workers that may wait for work at once; more leave when they run out of work.
constexpr std::size_t kMaxIdle = 4;

struct Pool {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> jobs;
  std::size_t idle = 0;
};

// Never destroyed: workers outlive every static destructor.
Pool& pool() {
  static auto& shared = *new Pool();
  return shared;
}

void work(Pool& pool) {
  std::unique_lock lock(pool.mutex);
  for (;;) {
    if (pool.jobs.empty()) {
      if (pool.idle >= kMaxIdle) return;
      ++pool.idle;
      pool.wake.wait(lock, [&] { return !pool.jobs.empty(); });
      --pool.idle;
    }
    std::function<void()> job = std::move(pool.jobs.front());
    pool.jobs.pop_front();
    lock.unlock();
    job();
    job = nullptr;  // what the job owns is released outside the lock
    lock.lock();
  }
}

}  // namespace

void run(std::function<void()> job) {
  Pool& shared = pool();
  std::unique_lock lock(shared.mutex);
  shared.jobs.push_back(std::move(job));
  // Idle workers that have not woken yet are counted as taken by the jobs already queued.
  if (shared.idle >= shared.jobs.size()) {
    lock.unlock();
    shared.wake.notify_one();
    return;
  }
  lock.unlock();
  try {
    std::thread([&shared] { work(shared); }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the job waits for the next worker that comes free, and its caller's
    // limit still holds.
  }
}

}  // namespace linkferry::TimeoutWorkers
