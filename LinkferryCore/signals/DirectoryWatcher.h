#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace linkferry {

// Reports that something changed below a set of folders, without saying what: callers rebuild
// whatever they derive from the folders. Subfolders count, including those created while the
// watcher runs. The events of a burst are folded into one report `latency` after the first of
// them; a burst longer than `latency` gives one report per `latency`.
//
// `onChange` runs on the watcher's own thread, never two at a time, and never after `stop`
// returns; it must not call `stop` or destroy the watcher (that would wait for itself). Keep it
// short: events that arrive meanwhile wait in the kernel's queue.
class DirectoryWatcher {
 public:
  using OnChange = std::function<void()>;

  virtual ~DirectoryWatcher() = default;  // implementations stop on destruction
  // Starts watching; nothing happens when the watcher already runs.
  virtual void start() = 0;
  // Stops watching and waits for a running `onChange` to return; nothing happens when stopped.
  virtual void stop() = 0;

  // The platform's watcher (inotify on Linux) over `paths`, symbolic links resolved. Folders that
  // do not exist, or that the system refuses to watch (permissions, the per-user watch limit),
  // are left out silently. Throws std::system_error when the system gives no watcher at all.
  static std::unique_ptr<DirectoryWatcher> create(std::vector<std::filesystem::path> paths,
                                                  std::chrono::milliseconds latency,
                                                  OnChange onChange);
};

// How an owner makes its watchers: DirectoryWatcher::create in production, a fake in tests.
using DirectoryWatcherFactory = std::function<std::unique_ptr<DirectoryWatcher>(
    std::vector<std::filesystem::path> paths, std::chrono::milliseconds latency,
    DirectoryWatcher::OnChange onChange)>;

}  // namespace linkferry
