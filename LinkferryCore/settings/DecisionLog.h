#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "foundation/Dates.h"
#include "foundation/Uuid.h"
#include "routing/LinkRequest.h"
#include "settings/LogEntry.h"
#include "settings/PickerModel.h"

namespace linkferry {

// The log of every link that reached the router. It lives in two files: log.json, one compact
// JSON array of the entries (what every other reader of the log takes), and "log.json.journal"
// beside it, one line for each change since log.json was last written (see LogChange). A
// `record` or `update` appends one line with one write instead of rewriting thousands of entries;
// loading reads log.json and applies the journal. Once the journal passes `journalLimit` bytes,
// on `clear`, on a `setRetention`, a turning off of history or a drop for size (below) that drops
// many entries, and on a load that drops entries without history, the entries are written to
// log.json (each entry's text as log.json held it, or as LogFile::encode writes a changed one) and
// the journal is removed. That order keeps
// every moment safe: the change is in the journal before log.json is replaced, and the journal's
// lines applied once more to the log they produced change nothing, so a process killed between the
// two loses nothing and resurrects nothing. Neither file waits for the disk where the file system
// keeps writes in order (Files::Durability::ordered): a power cut may cost the last few seconds of
// entries, never the log; an unfinished last line of the journal (no "\n" yet) is ignored.
//
// The log never grows past what a load accepts: every entry is kept within LogEntry's limits (a
// huge link is kept shortened), and a change that would leave the entries above `sizeLimit`
// bytes in log.json's encoding first drops the oldest decided entries, then the oldest pending
// ones, until they fit.
//
// Operations run one at a time (one mutex per object) and never throw for file trouble: read and
// write failures end up in `lastError` (see there for what it promises after a change). Several
// processes may share the files: every operation works under an exclusive `flock` on "<file>.lock"
// beside them, reads the journal lines other processes appended since (and everything again when
// log.json was replaced), and writes only under that lock, so no process's entry is lost.
//
// Nothing the user had is lost: a log.json that is not a log is renamed to "<file>.corrupt" (or
// "<file>.corrupt.1", ".2", ... when that name is taken) before the log starts from the journal
// alone; a journal with a complete line that is not a change is renamed to "<journal>.corrupt"
// likewise once the changes it does hold are in log.json. Either file is also moved aside when it
// is not a regular file (a FIFO, a device or a link to one: never read, so never waited on) or
// is larger than kFileLimit. A file that cannot be read (no permission, an input/output error, a
// folder in its place), or a bad file that cannot be moved aside, is never written over: changes
// then stay in memory, and `lastError` says why after every change until the file can be read.
class DecisionLog {
 public:
  using Clock = std::function<Date()>;

  // Creates the log and loads its files: entries older than the retention are dropped, and with
  // `keepHistory` off so are decided ones; in that case log.json is rewritten without them.
  // A negative or zero retention keeps only pending entries younger than a day.
  // `journalLimit`: the journal's size in bytes past which log.json is rewritten.
  // `sizeLimit`: the entries' size in log.json's encoding past which the oldest are dropped.
  DecisionLog(std::filesystem::path file, std::int64_t retentionDays, bool keepHistory,
              Clock now = &Date::now, std::uint64_t journalLimit = kJournalLimit,
              std::uint64_t sizeLimit = kSizeLimit);
  // A log that reads its files only once an operation needs what they hold, for a process that
  // takes one click and ends: `record`, and `update` and `entry` of an entry it recorded itself,
  // append one line to the journal without reading log.json, so the files end exactly as a
  // loaded log's change leaves them, only not pruned (the next load prunes). Whatever cannot be
  // done so (any other query, a journal past `journalLimit`, files near `sizeLimit`, log.json
  // missing or not a regular file, a failed append) loads the files first and goes on as the
  // log above does.
  struct DeferLoad {};
  DecisionLog(DeferLoad, std::filesystem::path file, std::int64_t retentionDays,
              bool keepHistory, Clock now = &Date::now,
              std::uint64_t journalLimit = kJournalLimit, std::uint64_t sizeLimit = kSizeLimit);
  DecisionLog(const DecisionLog&) = delete;
  DecisionLog& operator=(const DecisionLog&) = delete;

  // Appends a `pending` entry for the request (within LogEntry's limits), prunes, writes, and
  // returns the new random id.
  Uuid record(const LinkRequest& request);
  // Completes the entry with `id` (the newest, should the files hold an id twice); unknown ids
  // change nothing and write nothing. With history kept the status is set, a given target and
  // reason replace the old ones and `trace` is appended; without history a decided entry is
  // removed and a pending one left as it is. The entry is kept within LogEntry's limits.
  void update(const Uuid& id, DecisionStatus status, const std::optional<BrowserTarget>& target,
              const std::optional<std::string>& reason, const std::vector<std::string>& trace);

  // The entry with `id` (the newest, should the files hold an id twice).
  std::optional<LogEntry> entry(const Uuid& id);
  // The last `count` entries (all when fewer), oldest first.
  std::vector<LogEntry> recent(std::size_t count);
  // Every entry, newest first.
  std::vector<LogEntry> all();
  // The pending entries, oldest first.
  std::vector<LogEntry> unrouted();
  // How often each target was opened: exactly PickerOrdering::usage of `all()`, kept up to date
  // as entries come and go, so that no entry is decoded and the answer costs the same for any
  // size of the log.
  PickerOrdering::Usage usage();

  // Turning history off drops every decided entry, clears the traces of the rest and rewrites
  // log.json when that changed anything; turning it on, or setting the current value, writes
  // nothing.
  void setKeepHistory(bool keepHistory);
  // Prunes by the new retention and rewrites log.json when that dropped entries; a retention
  // that drops nothing (the usual call, at every start) writes nothing.
  void setRetention(std::int64_t days);
  // Empties the log and writes the empty list.
  void clear();

  const std::filesystem::path& file() const { return m_file; }
  const std::filesystem::path& journalFile() const { return m_journal; }
  bool keepHistory() const;
  // Why the last change did not reach the files. After `record`, `update` and `clear` (and
  // `setRetention`, `setKeepHistory` when they change something) it is set exactly when that
  // change is not in the files: a write failed (a full disk), or a file cannot be read so that
  // nothing is written (the reason repeated after every change until it can be); and it is
  // cleared by a change that reached them, as by one that had nothing to write (an unknown id).
  // The constructor and the queries set it when they move a damaged file aside or cannot read
  // one (damage moved aside does not stop the next change from reaching the files).
  std::optional<std::string> lastError() const;

  // Pending entries younger than this are never pruned, whatever the retention, so that the
  // entry `record` has just written is still there for its `update`.
  static constexpr double kPendingGrace = 86400;
  // A log file above this size is not read but moved aside as damaged; retention keeps the
  // usual log at a few megabytes, and kSizeLimit every log this class writes far below.
  static constexpr std::uint64_t kFileLimit = 64 * 1024 * 1024;
  // About 30,000 usual entries, a quarter of kFileLimit.
  static constexpr std::uint64_t kSizeLimit = 16 * 1024 * 1024;
  // About 300 lines: rewriting 6,000 entries (a few milliseconds) once per 150 clicks or so, and
  // a load applies at most this much on top of log.json.
  static constexpr std::uint64_t kJournalLimit = 256 * 1024;

 private:
  // What identifies one version of a file on disk (a replaced file is a new inode).
  struct Version {
    bool exists = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    bool operator==(const Version&) const = default;
    bool sameFile(const Version& other) const {
      return exists == other.exists && device == other.device && inode == other.inode;
    }
  };
  class FileLock;

  DecisionLog(std::filesystem::path file, std::int64_t retentionDays, bool keepHistory,
              Clock now, std::uint64_t journalLimit, std::uint64_t sizeLimit, bool deferred);
  // Loads the files as the constructor does, when the load was deferred; the caller holds the
  // file lock.
  void loadDeferred();
  // Without loading: appends the change's line to the journal when that leaves the files as a
  // loaded log would (see DeferLoad). False, with nothing written, otherwise.
  bool appendDeferred(const LogChange& change);

  // Brings `m_items` up to the files: the journal lines appended since the last read, or both
  // files again when log.json or the journal was replaced (and at the first call). Returns true
  // when the load filter dropped entries.
  bool synchronize();
  // Reads the journal from `m_journalRead.offset` on and applies its complete lines; false when
  // it cannot be read.
  bool readJournal();
  void apply(const std::vector<LogChange>& changes);
  // Drops what a load drops (aged entries, and decided ones without history); what it drops is
  // left for the next journal line to say. Returns true when it dropped any.
  bool filter();
  void setAside(const std::string& problem);
  void setJournalAside(const std::string& problem);
  // Journals the change, rewriting log.json instead when `rewrite`, when the journal is full or
  // when there is no log.json yet; nothing when the files must not be written over. Sets
  // `m_lastError`.
  void persist(LogChange change, bool rewrite);
  // Replaces log.json with the entries. Throws std::system_error.
  void writeEntries();
  void block(std::string reason);
  // Drops the entries past the retention, adding their ids to `dropped`. Entries arrive nearly
  // in time order, so this looks at the oldest ones only, unless an entry that arrived out of
  // order may be past it.
  void prune(std::vector<Uuid>& dropped);
  // Drops the oldest entries (decided ones first) while the entries encode to more than
  // `m_sizeLimit` bytes.
  void pruneBySize(LogChange& change);
  struct Item;
  bool isPrunable(const Item& entry, Date cutoff, Date now) const;
  static std::optional<Version> versionOf(const std::filesystem::path& file, int* error);

  // One target's count of uses in `m_uses`.
  using Use = PickerOrdering::Usage::value_type;
  // An entry as log.json holds it: its text (one JSON object), and what the log's bookkeeping
  // reads of it. The entry itself is decoded from the text when asked for, so that the log
  // keeps about its file's size in memory, and a rewrite of log.json encodes nothing.
  struct Item {
    Uuid id;
    Date receivedAt;
    DecisionStatus status = DecisionStatus::pending;
    bool traced = false;  // the trace holds lines
    // The count in `m_uses` of the target the entry counts a use for; none when it counts none.
    Use* use = nullptr;
    std::string text;

    LogEntry entry() const { return LogFile::decodeEntry(text); }
  };
  // An item for the entry, its used target entered in `m_uses` (with no use counted yet: that
  // is `countIn`'s).
  Item itemOf(const LogEntry& entry);
  Item itemOf(const LogFile::StoredEntry& entry);
  Use* useOf(std::optional<BrowserTarget> used);
  // The item's bytes in log.json, with the "," before it.
  static std::uint64_t storedSize(const Item& item) { return item.text.size() + 1; }
  // Adds the item's use to `m_uses`, and its stored size to the total when the total is known;
  // or takes them out. A target whose count falls to zero leaves `m_uses`: an item made before
  // another is counted out is counted in first, or its target may be gone.
  void countIn(const Item& item);
  void countOut(const Item& item);

  // The index by id, the uses and what is known of the arrival order, rebuilt from `m_items`:
  // after any change to them other than those below.
  void reindex();
  // Takes the last entry of `m_items`, just appended, into the index.
  void indexAppended();
  // Notes an entry received at `receivedAt` added after the others.
  void noteArrival(Date receivedAt);
  void popFront();
  void eraseAt(std::size_t position);
  // The position of the newest entry with `id`.
  std::optional<std::size_t> positionOf(const Uuid& id) const;

  // How far the journal has been read: which file, the end of the last complete line applied,
  // the file's size then and how many lines lie before `offset`.
  struct JournalRead {
    Version file;
    std::uint64_t offset = 0, size = 0, lines = 0;
  };

  const std::filesystem::path m_file;
  const std::filesystem::path m_journal;
  const Clock m_now;
  const std::uint64_t m_journalLimit;
  const std::uint64_t m_sizeLimit;
  mutable std::mutex m_mutex;
  double m_retention;
  bool m_keepHistory;
  std::deque<Item> m_items;
  // Where the newest entry of each id is, as a number that counts every entry ever put at the
  // back: the entry numbered n is m_items[n - m_front].
  std::unordered_map<Uuid, std::uint64_t> m_index;
  std::uint64_t m_front = 0;
  // Whether some id is held twice (only files written by hand hold one twice).
  bool m_duplicates = false;
  // The entries' stored sizes added up, when known: then every item's size is.
  std::uint64_t m_storedTotal = 0;
  // The uses every item in `m_items` counts, added up; only targets with uses (between changes).
  // Items point at their target's count here: an unordered map keeps its elements in place.
  PickerOrdering::Usage m_uses;
  bool m_totalKnown = false;
  // An entry received no earlier than every entry before it is in order. The latest arrival
  // (seconds since 1970; at least the latest, after removals) and the earliest arrival of an
  // entry not in order (at most that). NaN arrivals are neither: nothing prunes them.
  double m_latestArrival = -std::numeric_limits<double>::infinity();
  double m_earliestStray = std::numeric_limits<double>::infinity();
  std::optional<std::string> m_lastError;
  // The version of log.json the entries reflect; nothing before the first read or after a failed
  // one.
  std::optional<Version> m_seen;
  JournalRead m_journalRead;
  // Ids the load filter dropped from memory that the files still hold.
  std::vector<Uuid> m_unjournaled;
  // A change failed to reach the journal: the next write rewrites log.json from memory.
  bool m_rewriteNeeded = false;
  // Why the files must not be written over (one could not be read, or not be moved aside).
  std::optional<std::string> m_blocked;
  // The files are not loaded yet: `m_items` holds only the entries this object recorded.
  bool m_deferred = false;
};

}  // namespace linkferry
