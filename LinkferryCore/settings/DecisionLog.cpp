#include "settings/DecisionLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "foundation/Files.h"
#include "foundation/Json.h"

namespace linkferry {
namespace {

constexpr double kSecondsPerDay = 86400;

std::string reasonOf(int error) { return std::generic_category().message(error); }

}  // namespace

// An exclusive `flock` on "<log>.lock", held for one operation. Without a folder to hold it (a
// log that does not exist yet and is only read) the operation runs unlocked: there is nothing to
// read and nothing is written.
class DecisionLog::FileLock {
 public:
  FileLock(const std::filesystem::path& log, bool createFolder) {
    const std::filesystem::path path = log.string() + ".lock";
    if (createFolder) {
      std::error_code ignored;  // a failing folder shows up when the log is written
      std::filesystem::create_directories(path.parent_path(), ignored);
    }
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) return;
    while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FileLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int m_fd = -1;
};

DecisionLog::DecisionLog(std::filesystem::path file, std::int64_t retentionDays, bool keepHistory,
                         Clock now)
    : m_file(std::move(file)),
      m_now(std::move(now)),
      m_retention(static_cast<double>(retentionDays) * kSecondsPerDay),
      m_keepHistory(keepHistory) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  const bool dropped = synchronize();
  if (dropped && !m_keepHistory) commit();
}

std::optional<DecisionLog::Version> DecisionLog::currentVersion(int* error) const {
  struct stat status {};
  if (::stat(m_file.c_str(), &status) != 0) {
    *error = errno;
    // No log can exist there: nothing to read, and nothing to lose by writing.
    if (errno == ENOENT || errno == ENOTDIR) return Version{};
    return std::nullopt;
  }
  *error = 0;
  return Version{true,
                 static_cast<std::uint64_t>(status.st_dev),
                 static_cast<std::uint64_t>(status.st_ino),
                 static_cast<std::uint64_t>(status.st_size),
                 static_cast<std::int64_t>(status.st_mtim.tv_sec),
                 static_cast<std::int64_t>(status.st_mtim.tv_nsec)};
}

bool DecisionLog::isPrunable(const LogEntry& entry, Date cutoff, Date now) const {
  if (!(entry.receivedAt < cutoff)) return false;
  // The grace period: a pending entry may still be waiting for its update.
  return !(entry.status == DecisionStatus::pending &&
           now.secondsSince(entry.receivedAt) < kPendingGrace);
}

bool DecisionLog::synchronize() {
  int error = 0;
  std::optional<Version> version = currentVersion(&error);
  if (!version) {
    m_seen.reset();
    m_blocked = "cannot read " + m_file.string() + ": " + reasonOf(error);
    m_lastError = *m_blocked;
    return false;
  }
  if (m_seen && *m_seen == *version) return false;

  std::vector<LogEntry> loaded;
  if (version->exists) {
    std::string bytes;
    try {
      bytes = Files::read(m_file, kFileLimit);
    } catch (const std::system_error& failure) {
      m_seen.reset();
      m_blocked = failure.what();
      m_lastError = *m_blocked;
      return false;
    }
    try {
      loaded = LogFile::decode(bytes, m_file.string());
    } catch (const JsonError& failure) {
      setAside(failure.what());
      return false;
    }
  }
  m_seen = version;
  m_blocked.reset();

  const Date now = m_now();
  const Date cutoff = now.adding(-m_retention);
  const std::size_t before = loaded.size();
  std::erase_if(loaded, [&](const LogEntry& entry) {
    return isPrunable(entry, cutoff, now) ||
           (!m_keepHistory && entry.status != DecisionStatus::pending);
  });
  const bool dropped = loaded.size() != before;
  m_entries = std::move(loaded);
  return dropped;
}

void DecisionLog::setAside(const std::string& problem) {
  // Every earlier copy is kept: the first free name of log.json.corrupt, log.json.corrupt.1, ...
  std::filesystem::path aside = m_file.string() + ".corrupt";
  struct stat existing {};
  for (int number = 1; ::lstat(aside.c_str(), &existing) == 0; ++number) {
    aside = m_file.string() + ".corrupt." + std::to_string(number);
  }
  m_entries.clear();
  if (::rename(m_file.c_str(), aside.c_str()) == 0) {
    m_seen = Version{};
    m_blocked.reset();
    m_lastError = "unreadable log moved aside: " + problem;
    return;
  }
  const int error = errno;
  m_seen.reset();
  m_blocked = "unreadable log left in place (cannot move it to " + aside.string() + ": " +
              reasonOf(error) + "): " + problem;
  m_lastError = *m_blocked;
}

void DecisionLog::commit() {
  if (m_blocked) {
    m_lastError = *m_blocked;
    return;
  }
  try {
    Files::writeAtomically(m_file, LogFile::encode(m_entries));
  } catch (const std::system_error& failure) {
    m_lastError = "cannot write " + m_file.string() + ": " + failure.code().message();
    return;
  } catch (const std::bad_alloc&) {
    m_lastError = "cannot write " + m_file.string() + ": out of memory";
    return;
  }
  m_lastError.reset();
  int error = 0;
  m_seen = currentVersion(&error);
}

void DecisionLog::prune() {
  const Date now = m_now();
  const Date cutoff = now.adding(-m_retention);
  std::erase_if(m_entries, [&](const LogEntry& entry) { return isPrunable(entry, cutoff, now); });
}

Uuid DecisionLog::record(const LinkRequest& request) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, true);
  synchronize();
  const Uuid id = Uuid::random();
  m_entries.emplace_back(id, request.url, request.sourceApp, request.sourceWindow,
                         request.receivedAt, DecisionStatus::pending, std::nullopt, std::nullopt,
                         std::vector<std::string>{});
  prune();
  commit();
  return id;
}

void DecisionLog::update(const Uuid& id, DecisionStatus status,
                         const std::optional<BrowserTarget>& target,
                         const std::optional<std::string>& reason,
                         const std::vector<std::string>& trace) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, true);
  synchronize();
  auto found = std::find_if(m_entries.begin(), m_entries.end(),
                            [&](const LogEntry& entry) { return entry.id == id; });
  if (found == m_entries.end()) return;
  if (m_keepHistory) {
    found->status = status;
    if (target) found->target = target;
    if (reason) found->reason = reason;
    found->trace.insert(found->trace.end(), trace.begin(), trace.end());
  } else if (status != DecisionStatus::pending) {
    m_entries.erase(found);
  }
  commit();
}

std::optional<LogEntry> DecisionLog::entry(const Uuid& id) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  synchronize();
  for (const LogEntry& candidate : m_entries) {
    if (candidate.id == id) return candidate;
  }
  return std::nullopt;
}

std::vector<LogEntry> DecisionLog::recent(std::size_t count) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  synchronize();
  const std::size_t first = m_entries.size() > count ? m_entries.size() - count : 0;
  return std::vector<LogEntry>(m_entries.begin() + static_cast<std::ptrdiff_t>(first),
                               m_entries.end());
}

std::vector<LogEntry> DecisionLog::all() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  synchronize();
  return std::vector<LogEntry>(m_entries.rbegin(), m_entries.rend());
}

std::vector<LogEntry> DecisionLog::unrouted() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  synchronize();
  std::vector<LogEntry> pending;
  for (const LogEntry& entry : m_entries) {
    if (entry.status == DecisionStatus::pending) pending.push_back(entry);
  }
  return pending;
}

void DecisionLog::setKeepHistory(bool keepHistory) {
  std::lock_guard guard(m_mutex);
  if (keepHistory == m_keepHistory) return;
  m_keepHistory = keepHistory;
  if (keepHistory) return;
  FileLock lock(m_file, true);
  synchronize();
  std::erase_if(m_entries,
                [](const LogEntry& entry) { return entry.status != DecisionStatus::pending; });
  for (LogEntry& entry : m_entries) entry.trace.clear();
  commit();
}

void DecisionLog::setRetention(std::int64_t days) {
  std::lock_guard guard(m_mutex);
  m_retention = static_cast<double>(days) * kSecondsPerDay;
  FileLock lock(m_file, true);
  synchronize();
  prune();
  commit();
}

void DecisionLog::clear() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, true);
  synchronize();
  m_entries.clear();
  commit();
}

bool DecisionLog::keepHistory() const {
  std::lock_guard guard(m_mutex);
  return m_keepHistory;
}

std::optional<std::string> DecisionLog::lastError() const {
  std::lock_guard guard(m_mutex);
  return m_lastError;
}

}  // namespace linkferry
