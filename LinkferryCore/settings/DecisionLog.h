#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "foundation/Dates.h"
#include "foundation/Uuid.h"
#include "routing/LinkRequest.h"
#include "settings/LogEntry.h"

namespace linkferry {

// The log of every link that reached the router, kept in one JSON file (log.json) rewritten whole
// and atomically after every change. A write encodes only the entries that changed since this
// object last wrote or read the file, and does not wait for the disk where the file system keeps
// a replace in order (Files::Durability::ordered): a power cut may cost the last few seconds of
// entries, never the file.
//
// Operations run one at a time (one mutex per object) and never throw for file trouble: read and
// write failures end up in `lastError`. Several processes may share the file: every operation
// works under an exclusive `flock` on "<file>.lock" beside it, re-reads the file when another
// process replaced it since, and replaces it only under that lock, so no process's entry is lost.
//
// Nothing the user had is lost: a file that is not a log is renamed to "<file>.corrupt" (or
// "<file>.corrupt.1", ".2", ... when that name is taken) before the log starts empty; a file that
// cannot be read, or a bad file that cannot be moved aside, is never written over: changes then
// stay in memory and `lastError` says why.
class DecisionLog {
 public:
  using Clock = std::function<Date()>;

  // Creates the log and loads the file: entries older than the retention are dropped, and with
  // `keepHistory` off so are decided ones; in that case the file is rewritten without them.
  // A negative or zero retention keeps only pending entries younger than a day.
  DecisionLog(std::filesystem::path file, std::int64_t retentionDays, bool keepHistory,
              Clock now = &Date::now);
  DecisionLog(const DecisionLog&) = delete;
  DecisionLog& operator=(const DecisionLog&) = delete;

  // Appends a `pending` entry for the request, prunes, writes, and returns the new random id.
  Uuid record(const LinkRequest& request);
  // Completes the first entry with `id`; unknown ids change nothing and write nothing. With
  // history kept the status is set, a given target and reason replace the old ones and `trace`
  // is appended; without history a decided entry is removed and a pending one left as it is.
  void update(const Uuid& id, DecisionStatus status, const std::optional<BrowserTarget>& target,
              const std::optional<std::string>& reason, const std::vector<std::string>& trace);

  std::optional<LogEntry> entry(const Uuid& id);
  // The last `count` entries (all when fewer), oldest first.
  std::vector<LogEntry> recent(std::size_t count);
  // Every entry, newest first.
  std::vector<LogEntry> all();
  // The pending entries, oldest first.
  std::vector<LogEntry> unrouted();

  // Turning history off drops every decided entry, clears the traces of the rest and writes;
  // turning it on, or setting the current value, writes nothing.
  void setKeepHistory(bool keepHistory);
  // Prunes by the new retention and writes.
  void setRetention(std::int64_t days);
  // Empties the log and writes the empty list.
  void clear();

  const std::filesystem::path& file() const { return m_file; }
  bool keepHistory() const;
  // The most recent failure to read or write the file; cleared by the next successful write.
  std::optional<std::string> lastError() const;

  // Pending entries younger than this are never pruned, whatever the retention, so that the
  // entry `record` has just written is still there for its `update`.
  static constexpr double kPendingGrace = 86400;
  // A log file above this size is not read (and so never written over); retention keeps the
  // usual log at a few megabytes.
  static constexpr std::uint64_t kFileLimit = 64 * 1024 * 1024;

 private:
  // What identifies one version of the file on disk (a replaced file is a new inode).
  struct Version {
    bool exists = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    bool operator==(const Version&) const = default;
  };
  class FileLock;

  // Brings `m_items` up to the file when another process replaced it (or at the first call).
  // Returns true when the load filter dropped entries of the file.
  bool synchronize();
  void setAside(const std::string& problem);
  // Writes the entries unless the file must not be written over; sets `m_lastError`.
  void commit();
  void prune();
  bool isPrunable(const LogEntry& entry, Date cutoff, Date now) const;
  std::optional<Version> currentVersion(int* error) const;

  // An entry with its bytes in the file, kept so that a write encodes only what changed: "," and
  // the entry as LogFile::appendEntry writes it; empty until encoded and after every change.
  struct Item {
    LogEntry entry;
    std::string encoded;
  };

  const std::filesystem::path m_file;
  const Clock m_now;
  mutable std::mutex m_mutex;
  double m_retention;
  bool m_keepHistory;
  std::vector<Item> m_items;
  std::optional<std::string> m_lastError;
  // The version the entries reflect; nothing before the first read or after a failed one.
  std::optional<Version> m_seen;
  // Why the file must not be written over (it could not be read, or not be moved aside).
  std::optional<std::string> m_blocked;
};

}  // namespace linkferry
