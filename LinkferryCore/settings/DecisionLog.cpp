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
  m_items.clear();
  m_items.reserve(loaded.size());
  for (LogEntry& entry : loaded) m_items.push_back(Item{std::move(entry), {}});
  return dropped;
}

void DecisionLog::setAside(const std::string& problem) {
  // Every earlier copy is kept: the first free name of log.json.corrupt, log.json.corrupt.1, ...
  std::filesystem::path aside = m_file.string() + ".corrupt";
  struct stat existing {};
  for (int number = 1; ::lstat(aside.c_str(), &existing) == 0; ++number) {
    aside = m_file.string() + ".corrupt." + std::to_string(number);
  }
  m_items.clear();
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
  // Rewriting the whole file keeps it one plain JSON array that any reader takes, and a record
  // among thousands of entries still costs little: only the changed entry is encoded, the file
  // is written from the kept pieces, and the write does not wait for the disk where the file
  // system keeps the replace in order anyway (see Files::Durability::ordered; waiting for it
  // took three quarters or more of a record's time). A power cut can then cost the last few
  // seconds of decisions, never the log.
  try {
    std::vector<std::string_view> pieces;
    pieces.reserve(m_items.size() + 2);
    pieces.emplace_back("[");
    for (Item& item : m_items) {
      if (item.encoded.empty()) {
        item.encoded = ",";
        LogFile::appendEntry(item.encoded, item.entry);
      }
      pieces.emplace_back(item.encoded);
    }
    if (pieces.size() > 1) pieces[1].remove_prefix(1);  // the first entry has no ","
    pieces.emplace_back("]");
    Files::writeAtomically(m_file, pieces, Files::Durability::ordered);
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
  std::erase_if(m_items, [&](const Item& item) { return isPrunable(item.entry, cutoff, now); });
}

Uuid DecisionLog::record(const LinkRequest& request) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, true);
  synchronize();
  const Uuid id = Uuid::random();
  m_items.push_back(Item{LogEntry(id, request.url, request.sourceApp, request.sourceWindow,
                                  request.receivedAt, DecisionStatus::pending, std::nullopt,
                                  std::nullopt, std::vector<std::string>{}),
                         {}});
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
  auto found = std::find_if(m_items.begin(), m_items.end(),
                            [&](const Item& item) { return item.entry.id == id; });
  if (found == m_items.end()) return;
  if (m_keepHistory) {
    LogEntry& entry = found->entry;
    entry.status = status;
    if (target) entry.target = target;
    if (reason) entry.reason = reason;
    entry.trace.insert(entry.trace.end(), trace.begin(), trace.end());
    found->encoded.clear();
  } else if (status != DecisionStatus::pending) {
    m_items.erase(found);
  }
  commit();
}

std::optional<LogEntry> DecisionLog::entry(const Uuid& id) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  synchronize();
  for (const Item& item : m_items) {
    if (item.entry.id == id) return item.entry;
  }
  return std::nullopt;
}

std::vector<LogEntry> DecisionLog::recent(std::size_t count) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  synchronize();
  std::vector<LogEntry> entries;
  const std::size_t first = m_items.size() > count ? m_items.size() - count : 0;
  for (std::size_t i = first; i < m_items.size(); ++i) entries.push_back(m_items[i].entry);
  return entries;
}

std::vector<LogEntry> DecisionLog::all() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  synchronize();
  std::vector<LogEntry> entries;
  entries.reserve(m_items.size());
  for (auto item = m_items.rbegin(); item != m_items.rend(); ++item) entries.push_back(item->entry);
  return entries;
}

std::vector<LogEntry> DecisionLog::unrouted() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  synchronize();
  std::vector<LogEntry> pending;
  for (const Item& item : m_items) {
    if (item.entry.status == DecisionStatus::pending) pending.push_back(item.entry);
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
  std::erase_if(m_items,
                [](const Item& item) { return item.entry.status != DecisionStatus::pending; });
  for (Item& item : m_items) {
    item.entry.trace.clear();
    item.encoded.clear();
  }
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
  m_items.clear();
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
