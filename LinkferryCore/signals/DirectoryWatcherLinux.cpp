// The Linux DirectoryWatcher: inotify, one watch per folder, since inotify itself is not recursive.

#include "signals/DirectoryWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Content and structure changes. Reads (IN_ACCESS, IN_OPEN) are left out on purpose: rebuilding
// the index reads the very files watched, and must not trigger itself.
constexpr uint32_t kMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                           IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                           IN_DONT_FOLLOW | IN_EXCL_UNLINK;

std::system_error systemError(const char* what) {
  return std::system_error(errno, std::generic_category(), what);
}

class InotifyWatcher final : public DirectoryWatcher {
 public:
  InotifyWatcher(std::vector<fs::path> paths, std::chrono::milliseconds latency, OnChange onChange)
      : m_latency(latency), m_onChange(std::move(onChange)) {
    for (auto& path : paths) {
      std::error_code error;
      auto resolved = fs::canonical(path, error);
      m_roots.push_back(error ? std::move(path) : std::move(resolved));
    }
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0) throw systemError("cannot watch folders");
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0) {
      auto error = systemError("cannot watch folders");
      close(m_inotify);
      throw error;
    }
  }

  ~InotifyWatcher() override {
    stop();
    close(m_wake);
    close(m_inotify);
  }

  void start() override {
    if (m_thread.joinable()) return;
    drain(m_inotify);  // events of an earlier run, and the IN_IGNORED of its removed watches
    for (const auto& root : m_roots) addTree(root);
    m_thread = std::thread([this] { run(); });
  }

  void stop() override {
    if (!m_thread.joinable()) return;
    const uint64_t one = 1;
    while (write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
    m_thread.join();
    drain(m_wake);
    for (const auto& [descriptor, path] : m_folders) inotify_rm_watch(m_inotify, descriptor);
    m_folders.clear();
  }

 private:
  static void drain(int descriptor) {
    alignas(inotify_event) char buffer[4096];
    while (read(descriptor, buffer, sizeof buffer) > 0) {
    }
  }

  void addFolder(const fs::path& folder) {
    const int descriptor = inotify_add_watch(m_inotify, folder.c_str(), kMask);
    if (descriptor >= 0) m_folders[descriptor] = folder;
  }

  // The folder and every folder below it, symbolic links not followed.
  void addTree(const fs::path& top) {
    addFolder(top);
    std::error_code error;
    fs::recursive_directory_iterator it(top, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      std::error_code statusError;
      if (it->symlink_status(statusError).type() == fs::file_type::directory) addFolder(it->path());
    }
  }

  // Reads every queued event; true when one of them is a change. New folders are watched at
  // once, so what is written into them next is seen.
  bool readEvents() {
    alignas(inotify_event) char buffer[16384];
    bool changed = false;
    for (;;) {
      const ssize_t length = read(m_inotify, buffer, sizeof buffer);
      if (length < 0 && errno == EINTR) continue;
      if (length <= 0) return changed;
      for (ssize_t offset = 0; offset < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & IN_IGNORED) {
          m_folders.erase(event->wd);
          continue;
        }
        changed = true;  // includes IN_Q_OVERFLOW: events were lost, so something changed
        const bool newFolder =
            (event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO));
        if (newFolder && event->len > 0) {
          auto parent = m_folders.find(event->wd);
          if (parent != m_folders.end()) addTree(parent->second / event->name);
        }
      }
    }
  }

  void run() {
    std::optional<Clock::time_point> reportAt;
    for (;;) {
      int timeout = -1;
      if (reportAt) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*reportAt - Clock::now());
        timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
      }
      pollfd descriptors[2] = {{m_inotify, POLLIN, 0}, {m_wake, POLLIN, 0}};
      if (poll(descriptors, 2, timeout) < 0) {
        if (errno == EINTR) continue;
        return;  // cannot happen with valid descriptors; the owner's periodic work still runs
      }
      // A change still waiting for its report is dropped: whoever stops has stopped listening.
      if (descriptors[1].revents != 0) return;
      if ((descriptors[0].revents & POLLIN) && readEvents() && !reportAt)
        reportAt = Clock::now() + m_latency;
      if (reportAt && Clock::now() >= *reportAt) {
        reportAt.reset();
        try {
          m_onChange();
        } catch (...) {
          // A failing callback must not end the watching.
        }
      }
    }
  }

  std::vector<fs::path> m_roots;
  std::chrono::milliseconds m_latency;
  OnChange m_onChange;
  int m_inotify = -1;
  int m_wake = -1;                              // eventfd: written by stop to end the thread's poll
  std::unordered_map<int, fs::path> m_folders;  // by watch descriptor; the thread's while it runs
  std::thread m_thread;
};

}  // namespace

std::unique_ptr<DirectoryWatcher> DirectoryWatcher::create(std::vector<fs::path> paths,
                                                           std::chrono::milliseconds latency,
                                                           OnChange onChange) {
  return std::make_unique<InotifyWatcher>(std::move(paths), latency, std::move(onChange));
}

}  // namespace linkferry
