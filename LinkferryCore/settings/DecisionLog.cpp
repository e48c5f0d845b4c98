#include "settings/DecisionLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Text.h"

namespace linkferry {
namespace {

constexpr double kSecondsPerDay = 86400;
// Entries dropped for size that a journal line takes; more are dropped by a rewrite.
constexpr std::size_t kSizeDropsJournaled = 32;
// The permissions of the log, its journal and its lock.
constexpr unsigned kLogFileMode = 0600;

std::string reasonOf(int error) { return std::generic_category().message(error); }

// The first free name of "<file>.corrupt", "<file>.corrupt.1", ...: every earlier copy is kept.
std::filesystem::path asideName(const std::filesystem::path& file) {
  std::filesystem::path aside = file.string() + ".corrupt";
  struct stat existing {};
  for (int number = 1; ::lstat(aside.c_str(), &existing) == 0; ++number) {
    aside = file.string() + ".corrupt." + std::to_string(number);
  }
  return aside;
}

// A file the reader refuses for what it is, not for a passing failure: not a regular file (a
// FIFO, a device, a link to one) or larger than any log this class writes. Such a file is moved
// aside like a damaged one, so that it never stops the log. A folder is left alone: it is not a
// file this class could have written, and moving it would hide what the user put there.
bool isDamage(const std::system_error& failure, const std::filesystem::path& file) {
  if (dynamic_cast<const Files::ReadError*>(&failure) == nullptr) return false;
  if (failure.code() != std::errc::invalid_argument &&
      failure.code() != std::errc::file_too_large) {
    return false;
  }
  struct stat status {};
  return ::stat(file.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

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
                         Clock now, std::uint64_t journalLimit, std::uint64_t sizeLimit)
    : DecisionLog(std::move(file), retentionDays, keepHistory, std::move(now), journalLimit,
                  sizeLimit, false) {}

DecisionLog::DecisionLog(DeferLoad, std::filesystem::path file, std::int64_t retentionDays,
                         bool keepHistory, Clock now, std::uint64_t journalLimit,
                         std::uint64_t sizeLimit)
    : DecisionLog(std::move(file), retentionDays, keepHistory, std::move(now), journalLimit,
                  sizeLimit, true) {}

DecisionLog::DecisionLog(std::filesystem::path file, std::int64_t retentionDays, bool keepHistory,
                         Clock now, std::uint64_t journalLimit, std::uint64_t sizeLimit,
                         bool deferred)
    : m_file(std::move(file)),
      m_journal(m_file.string() + ".journal"),
      m_now(std::move(now)),
      m_journalLimit(journalLimit),
      m_sizeLimit(sizeLimit),
      m_retention(static_cast<double>(retentionDays) * kSecondsPerDay),
      m_keepHistory(keepHistory),
      m_deferred(true) {
  if (deferred) return;
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  loadDeferred();
}

void DecisionLog::loadDeferred() {
  if (!m_deferred) return;
  m_deferred = false;
  // What this object recorded is in the files, or comes back from the change that failed.
  m_items.clear();
  reindex();
  m_seen.reset();
  m_journalRead = {};
  const bool dropped = synchronize();
  if (dropped && !m_keepHistory) persist({}, true);
}

bool DecisionLog::appendDeferred(const LogChange& change) {
  if (m_blocked || m_rewriteNeeded) return false;
  // A log.json that is missing, damaged or no regular file is for a load to deal with; one that
  // merely holds something other than a log is moved aside by the next load, the journal's lines
  // then applied to an empty log, so nothing appended here is lost.
  struct stat status {};
  if (::stat(m_file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uint64_t>(status.st_size) > m_sizeLimit / 2) {
    return false;
  }
  std::string line;
  LogJournal::appendLine(line, change);
  try {
    std::optional<Files::FileTail> tail =
        Files::readTailIfExists(m_journal, 0, std::max<std::uint64_t>(m_journalLimit, 1));
    // The journal's lines are applied by a load, not here; only where the last complete one
    // ends matters: an unfinished line after it is written over.
    std::uint64_t offset = 0, journalSize = 0;
    if (tail) {
      journalSize = tail->size;
      const std::size_t last = tail->bytes.rfind('\n');
      offset = last == std::string::npos ? 0 : last + 1;
    }
    if (offset + line.size() > m_journalLimit ||
        static_cast<std::uint64_t>(status.st_size) + journalSize + line.size() > m_sizeLimit / 2) {
      return false;
    }
    Files::append(m_journal, line, offset, Files::Durability::ordered);
  } catch (const std::system_error&) {
    // A journal that cannot be read or written: the load that follows says why.
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  m_lastError.reset();
  return true;
}

std::optional<DecisionLog::Version> DecisionLog::versionOf(const std::filesystem::path& file,
                                                           int* error) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) {
    *error = errno;
    // No file can exist there: nothing to read, and nothing to lose by writing.
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

bool DecisionLog::isPrunable(const Item& entry, Date cutoff, Date now) const {
  if (!(entry.receivedAt < cutoff)) return false;
  // The grace period: a pending entry may still be waiting for its update.
  return !(entry.status == DecisionStatus::pending &&
           now.secondsSince(entry.receivedAt) < kPendingGrace);
}

void DecisionLog::block(std::string reason) {
  m_seen.reset();
  m_blocked = std::move(reason);
  m_lastError = *m_blocked;
}

bool DecisionLog::synchronize() {
  int error = 0;
  const std::optional<Version> version = versionOf(m_file, &error);
  if (!version) {
    block("cannot read " + m_file.string() + ": " + reasonOf(error));
    return false;
  }
  const std::optional<Version> journal = versionOf(m_journal, &error);
  if (!journal) {
    block("cannot read " + m_journal.string() + ": " + reasonOf(error));
    return false;
  }

  // Another process that changed the log without rewriting log.json only appended to the same
  // journal (a journal that appeared counts as one read up to its start).
  const JournalRead& read = m_journalRead;
  if (m_seen && *m_seen == *version && (!read.file.exists || read.file.sameFile(*journal)) &&
      journal->size >= read.offset) {
    // Past `offset` lies only what was appended since, or an unfinished line of a dead writer
    // that a later writer may have cut and written over: read that again.
    if (journal->size == read.size && read.size == read.offset) return false;
    return readJournal() && filter();
  }

  std::deque<Item> loaded;
  m_seen.reset();
  if (version->exists) {
    std::string bytes;
    try {
      bytes = Files::read(m_file, kFileLimit);
      if (std::optional<std::vector<LogFile::StoredEntry>> stored = LogFile::scan(bytes)) {
        for (const LogFile::StoredEntry& entry : *stored) loaded.push_back(itemOf(entry));
      } else {
        for (const LogEntry& entry : LogFile::decode(bytes, m_file.string())) {
          loaded.push_back(itemOf(entry));
        }
      }
      m_seen = version;
    } catch (const std::system_error& failure) {
      if (!isDamage(failure, m_file)) {
        block(failure.what());
        return false;
      }
      setAside(failure.what());
      if (m_blocked) return false;
    } catch (const JsonError& failure) {
      setAside(failure.what());
      if (m_blocked) return false;
    }
  } else {
    m_seen = version;
  }
  m_blocked.reset();
  m_items = std::move(loaded);
  reindex();
  m_journalRead = {};
  m_unjournaled.clear();
  m_rewriteNeeded = false;
  return readJournal() && filter();
}

bool DecisionLog::readJournal() {
  std::optional<Files::FileTail> tail;
  try {
    tail = Files::readTailIfExists(m_journal, m_journalRead.offset, kFileLimit);
  } catch (const std::system_error& error) {
    if (isDamage(error, m_journal)) {
      // Nothing of it can be applied; log.json keeps what was read before.
      m_journalRead = {};
      setJournalAside(error.what());
      return !m_blocked;
    }
    // A folder that is not one holds no journal, as it holds no log.json; writing says why.
    if (error.code() != std::errc::not_a_directory) {
      block(error.what());
      return false;
    }
  }
  if (!tail) {
    m_journalRead = {};
    return true;
  }
  const std::uint64_t from = tail->size - tail->bytes.size();
  const std::string& bytes = tail->bytes;

  // Every complete line is applied; what follows the last "\n" is a line a writer did not finish
  // (killed, or a power cut) and is ignored: the next append writes over it. A complete line that
  // is not a change, the last one included, is damage (a writer writes a whole line at once): the
  // lines around it still count, and the journal is set aside below.
  std::vector<LogChange> changes;
  std::optional<std::string> problem;
  std::size_t consumed = 0;
  std::uint64_t lines = m_journalRead.lines;
  for (std::size_t newline; (newline = bytes.find('\n', consumed)) != std::string::npos;) {
    const std::string where = m_journal.string() + ", line " + std::to_string(lines + 1);
    try {
      changes.push_back(LogJournal::decodeLine(
          std::string_view(bytes).substr(consumed, newline - consumed), where));
    } catch (const JsonError& failure) {
      if (!problem) problem = failure.what();
    }
    consumed = newline + 1;
    ++lines;
  }
  m_journalRead.file = Version{true, tail->device, tail->inode};
  m_journalRead.offset = from + consumed;
  m_journalRead.size = from + bytes.size();
  m_journalRead.lines = lines;
  apply(changes);
  if (problem) setJournalAside(*problem);
  return true;
}

void DecisionLog::apply(const std::vector<LogChange>& changes) {
  if (changes.empty()) return;
  // A change concerns the newest entry with its id, as `update` does. Entries it drops are
  // marked and removed at the end, all at once.
  std::vector<bool> gone(m_items.size(), false);
  bool removed = false, reordered = false;
  auto remove = [&](std::size_t i) {
    gone[i] = true;
    removed = true;
    const Uuid& id = m_items[i].id;
    m_index.erase(id);
    if (!m_duplicates) return;
    for (std::size_t j = i; j-- > 0;) {
      if (!gone[j] && m_items[j].id == id) {
        m_index.emplace(id, m_front + j);
        return;
      }
    }
  };
  for (const LogChange& change : changes) {
    if (change.clear) {
      std::fill(gone.begin(), gone.end(), true);
      removed = removed || !m_items.empty();
      m_index.clear();
    }
    for (const Uuid& id : change.drop) {
      if (auto i = positionOf(id)) remove(*i);
    }
    for (const LogEntry& entry : change.put) {
      auto i = positionOf(entry.id);
      if (!i) continue;
      // A changed arrival time changes what is known of the order.
      reordered = reordered || !(m_items[*i].receivedAt == entry.receivedAt);
      countOut(m_items[*i]);
      m_items[*i] = itemOf(entry);
      countIn(m_items[*i]);
    }
    for (const LogEntry& entry : change.add) {
      if (positionOf(entry.id)) continue;
      m_items.push_back(itemOf(entry));
      gone.push_back(false);
      indexAppended();
      countIn(m_items.back());
    }
  }
  if (removed) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
      if (gone[i]) continue;
      if (kept != i) m_items[kept] = std::move(m_items[i]);
      ++kept;
    }
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(kept), m_items.end());
  }
  if (removed || reordered) reindex();
}

void DecisionLog::reindex() {
  m_index.clear();
  m_index.reserve(m_items.size());
  m_front = 0;
  m_duplicates = false;
  m_totalKnown = false;
  m_latestArrival = -std::numeric_limits<double>::infinity();
  m_earliestStray = std::numeric_limits<double>::infinity();
  for (Use& use : m_uses) use.second = 0;
  for (std::size_t i = 0; i < m_items.size(); ++i) {
    if (!m_index.insert_or_assign(m_items[i].id, i).second) m_duplicates = true;
    noteArrival(m_items[i].receivedAt);
    if (m_items[i].use) ++m_items[i].use->second;
  }
  // Targets of entries removed without being counted out, or of items made and not kept.
  std::erase_if(m_uses, [](const Use& use) { return use.second == 0; });
}

void DecisionLog::indexAppended() {
  const Item& item = m_items.back();
  if (!m_index.insert_or_assign(item.id, m_front + m_items.size() - 1).second) {
    m_duplicates = true;
  }
  noteArrival(item.receivedAt);
}

void DecisionLog::noteArrival(Date receivedAt) {
  const double at = receivedAt.secondsSince1970;
  if (std::isnan(at)) return;
  if (at < m_latestArrival) {
    m_earliestStray = std::min(m_earliestStray, at);
  } else {
    m_latestArrival = at;
  }
}

std::optional<std::size_t> DecisionLog::positionOf(const Uuid& id) const {
  const auto found = m_index.find(id);
  if (found == m_index.end()) return std::nullopt;
  return static_cast<std::size_t>(found->second - m_front);
}

void DecisionLog::popFront() {
  // An older entry of an id held twice leaves the newer one where it is.
  const auto found = m_index.find(m_items.front().id);
  if (found != m_index.end() && found->second == m_front) m_index.erase(found);
  countOut(m_items.front());
  m_items.pop_front();
  ++m_front;
}

void DecisionLog::eraseAt(std::size_t position) {
  countOut(m_items[position]);
  if (m_duplicates) {
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(position));
    reindex();
    return;
  }
  // Every id's number is its own entry's. The entries on the shorter side are renumbered: those
  // after it one down, or those before it one up with the front's number.
  m_index.erase(m_items[position].id);
  if (position < m_items.size() / 2) {
    for (std::size_t i = 0; i < position; ++i) ++m_index.find(m_items[i].id)->second;
    ++m_front;
  } else {
    for (std::size_t i = position + 1; i < m_items.size(); ++i) {
      --m_index.find(m_items[i].id)->second;
    }
  }
  m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(position));
}

bool DecisionLog::filter() {
  const std::size_t before = m_items.size();
  prune(m_unjournaled);
  if (!m_keepHistory) {
    // Without history the log holds pending entries only: few.
    const std::size_t aged = m_items.size();
    std::erase_if(m_items, [&](const Item& item) {
      const bool decided = item.status != DecisionStatus::pending;
      if (decided) m_unjournaled.push_back(item.id);
      return decided;
    });
    if (m_items.size() != aged) reindex();
  }
  return m_items.size() != before;
}

void DecisionLog::setAside(const std::string& problem) {
  const std::filesystem::path aside = asideName(m_file);
  m_items.clear();
  reindex();
  if (::rename(m_file.c_str(), aside.c_str()) == 0) {
    m_seen = Version{};
    m_blocked.reset();
    m_lastError = "unreadable log moved aside: " + problem;
    return;
  }
  const int error = errno;
  block("unreadable log left in place (cannot move it to " + aside.string() + ": " +
        reasonOf(error) + "): " + problem);
}

void DecisionLog::setJournalAside(const std::string& problem) {
  // log.json takes what the journal holds first: killed before the rename, the journal is read
  // and set aside again; after it, nothing of the journal is missing from log.json.
  try {
    writeEntries();
  } catch (const std::system_error& failure) {
    m_rewriteNeeded = true;
    m_lastError = "unreadable log journal left in place (cannot write " + m_file.string() +
                  ": " + failure.code().message() + "): " + problem;
    return;
  }
  const std::filesystem::path aside = asideName(m_journal);
  if (::rename(m_journal.c_str(), aside.c_str()) != 0) {
    const int error = errno;
    block("unreadable log journal left in place (cannot move it to " + aside.string() + ": " +
          reasonOf(error) + "): " + problem);
    return;
  }
  m_journalRead = {};
  m_lastError = "unreadable log journal moved aside: " + problem;
}

DecisionLog::Item DecisionLog::itemOf(const LogEntry& entry) {
  Item item{entry.id, entry.receivedAt, entry.status, !entry.trace.empty(), nullptr,
            LogFile::encodeEntry(entry)};
  std::optional<BrowserTarget> used = PickerOrdering::usedTarget(entry.status, entry.target);
  // The encoder replaces what is not UTF-8: such a target counts as every reader of the entry
  // sees it, here and after a reload.
  auto valid = [](const std::optional<std::string>& text) {
    return !text || Text::isValidUTF8(*text);
  };
  if (used && !(Text::isValidUTF8(used->browser) && valid(used->profile) &&
                valid(used->container))) {
    const LogEntry stored = item.entry();
    used = PickerOrdering::usedTarget(stored.status, stored.target);
  }
  item.use = useOf(std::move(used));
  return item;
}

DecisionLog::Item DecisionLog::itemOf(const LogFile::StoredEntry& entry) {
  return Item{entry.id,
              entry.receivedAt,
              entry.status,
              entry.traced,
              useOf(PickerOrdering::usedTarget(entry.status, entry.target)),
              std::string(entry.text)};
}

DecisionLog::Use* DecisionLog::useOf(std::optional<BrowserTarget> used) {
  if (!used) return nullptr;
  return &*m_uses.try_emplace(std::move(*used), 0).first;
}

void DecisionLog::countIn(const Item& item) {
  if (m_totalKnown) m_storedTotal += storedSize(item);
  if (item.use) ++item.use->second;
}

void DecisionLog::countOut(const Item& item) {
  if (m_totalKnown) m_storedTotal -= storedSize(item);
  if (item.use && --item.use->second == 0) m_uses.erase(m_uses.find(item.use->first));
}

void DecisionLog::pruneBySize(LogChange& change) {
  if (!m_totalKnown) {
    // The entries are in the files (or are this change): while those are far below the limit,
    // so are the entries, and nothing needs encoding.
    if (!m_rewriteNeeded && m_seen && m_seen->size + m_journalRead.size <= m_sizeLimit / 2) {
      return;
    }
    m_storedTotal = 0;
    for (const Item& item : m_items) m_storedTotal += storedSize(item);
    m_totalKnown = true;
  }
  if (m_storedTotal + 2 <= m_sizeLimit) return;  // with "[" and "]"
  // Oldest decided entries first, then oldest pending ones; never the newest, which is the one
  // being recorded.
  std::vector<std::size_t> positions;
  for (bool pending : {false, true}) {
    for (std::size_t i = 0; i + 1 < m_items.size() && m_storedTotal + 2 > m_sizeLimit; ++i) {
      if ((m_items[i].status == DecisionStatus::pending) != pending) continue;
      positions.push_back(i);
      m_storedTotal -= storedSize(m_items[i]);
      change.drop.push_back(m_items[i].id);
    }
  }
  std::sort(positions.begin(), positions.end());
  // Usually the oldest entries go, from the front.
  if (!positions.empty() && positions.back() + 1 == positions.size()) {
    const std::uint64_t total = m_storedTotal;
    m_totalKnown = false;  // popFront has counted the dropped ones out already
    for (std::size_t i = 0; i < positions.size(); ++i) popFront();
    m_storedTotal = total;
    m_totalKnown = true;
    return;
  }
  std::vector<bool> gone(m_items.size(), false);
  for (std::size_t position : positions) gone[position] = true;
  std::size_t i = 0;
  std::erase_if(m_items, [&](const Item&) { return gone[i++]; });
  const std::uint64_t total = m_storedTotal;
  reindex();
  m_storedTotal = total;
  m_totalKnown = true;
}

void DecisionLog::writeEntries() {
  // The entries are held as their text in the file: nothing is encoded here.
  std::vector<std::string_view> pieces;
  pieces.reserve(2 * m_items.size() + 1);
  pieces.emplace_back("[");
  for (const Item& item : m_items) {
    if (pieces.size() > 1) pieces.emplace_back(",");
    pieces.emplace_back(item.text);
  }
  pieces.emplace_back("]");
  // The log holds where the user's links went: readable by the user alone, as its journal.
  Files::writeAtomically(m_file, pieces, Files::Durability::ordered, kLogFileMode);
  int error = 0;
  m_seen = versionOf(m_file, &error);
  m_unjournaled.clear();
  m_rewriteNeeded = false;
}

void DecisionLog::persist(LogChange change, bool rewrite) {
  if (m_blocked) {
    m_lastError = *m_blocked;
    return;
  }
  if (change.empty() && !rewrite && !m_rewriteNeeded) {
    // The files hold the log already (a drop the load left unjournaled changes nothing a load
    // would not drop again).
    m_lastError.reset();
    return;
  }
  const std::size_t dropped = change.drop.size();
  pruneBySize(change);
  // Dropping for size drops many old entries at once the first time: one rewrite instead of a
  // long line. At the limit each change drops one or two, which the journal takes.
  rewrite = rewrite || change.drop.size() > dropped + kSizeDropsJournaled;
  change.drop.insert(change.drop.begin(), m_unjournaled.begin(), m_unjournaled.end());
  std::string line;
  if (!change.empty()) LogJournal::appendLine(line, change);
  rewrite = rewrite || m_rewriteNeeded || !m_seen || !m_seen->exists ||
            m_journalRead.offset + line.size() > m_journalLimit;

  // Even before a rewrite the change goes to a journal that holds lines: killed between the
  // rewrite and the journal's removal, those lines must bring log.json to this change again, not
  // to an older state.
  const bool journalFirst = !line.empty() && (!rewrite || m_journalRead.offset > 0);
  const std::filesystem::path* writing = &m_journal;
  try {
    if (journalFirst) {
      const Files::AppendedFile appended =
          Files::append(m_journal, line, m_journalRead.offset, Files::Durability::ordered);
      const Version file{true, appended.device, appended.inode};
      // Written somewhere this object did not read up to: only a rewrite says what the log is.
      if ((m_journalRead.file.exists && !m_journalRead.file.sameFile(file)) ||
          appended.size != m_journalRead.offset + line.size()) {
        rewrite = true;
      }
      m_journalRead.file = file;
      m_journalRead.offset = m_journalRead.size = appended.size;
      ++m_journalRead.lines;
      m_unjournaled.clear();
    }
    if (rewrite) {
      writing = &m_file;
      writeEntries();
      writing = &m_journal;
      if (::unlink(m_journal.c_str()) != 0 && errno != ENOENT) {
        throw std::system_error(errno, std::generic_category());
      }
      m_journalRead = {};
    }
  } catch (const std::system_error& failure) {
    if (!journalFirst || writing == &m_journal) m_rewriteNeeded = true;
    m_lastError = "cannot write " + writing->string() + ": " + failure.code().message();
    return;
  } catch (const std::bad_alloc&) {
    m_rewriteNeeded = true;
    m_lastError = "cannot write " + writing->string() + ": out of memory";
    return;
  }
  m_lastError.reset();
}

void DecisionLog::prune(std::vector<Uuid>& dropped) {
  const Date now = m_now();
  const Date cutoff = now.adding(-m_retention);
  while (!m_items.empty() && isPrunable(m_items.front(), cutoff, now)) {
    dropped.push_back(m_items.front().id);
    popFront();
  }
  if (m_items.empty()) return;
  // Only an entry received before the cutoff can be pruned. When the oldest kept one was
  // received after it, so were the entries in order behind it; and so were those out of order
  // when the earliest of them was.
  if (m_items.front().receivedAt >= cutoff && m_earliestStray >= cutoff.secondsSince1970) {
    return;
  }
  std::erase_if(m_items, [&](const Item& item) {
    const bool drop = isPrunable(item, cutoff, now);
    if (drop) dropped.push_back(item.id);
    return drop;
  });
  reindex();
}

Uuid DecisionLog::record(const LinkRequest& request) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, true);
  const Uuid id = Uuid::random();
  LogEntry entry(id, request.url, request.sourceApp, request.sourceWindow, request.receivedAt,
                 DecisionStatus::pending, std::nullopt, std::nullopt, std::vector<std::string>{});
  entry.bound();
  if (m_deferred) {
    LogChange change;
    change.add.push_back(entry);
    if (appendDeferred(change)) {
      m_items.push_back(itemOf(entry));
      indexAppended();
      countIn(m_items.back());
      return id;
    }
    loadDeferred();
  }
  synchronize();
  m_items.push_back(itemOf(entry));
  indexAppended();
  countIn(m_items.back());
  LogChange change;
  prune(change.drop);
  // An arrival already past the retention is pruned at once: then it is neither added nor
  // dropped.
  if (std::erase(change.drop, id) == 0) change.add.push_back(std::move(entry));
  persist(std::move(change), false);
  return id;
}

void DecisionLog::update(const Uuid& id, DecisionStatus status,
                         const std::optional<BrowserTarget>& target,
                         const std::optional<std::string>& reason,
                         const std::vector<std::string>& trace) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, true);
  if (m_deferred) {
    if (const std::optional<std::size_t> own = positionOf(id)) {
      LogChange change;
      std::optional<Item> updated;
      if (m_keepHistory) {
        LogEntry entry = m_items[*own].entry();
        entry.status = status;
        if (target) entry.target = target;
        if (reason) entry.reason = reason;
        entry.trace.insert(entry.trace.end(), trace.begin(), trace.end());
        entry.bound();
        updated = itemOf(entry);
        change.put.push_back(std::move(entry));
      } else if (status != DecisionStatus::pending) {
        change.drop.push_back(id);
      }
      if (change.empty()) {
        m_lastError.reset();  // nothing changes: the files hold the entry as it is
        return;
      }
      if (appendDeferred(change)) {
        if (updated) {
          countIn(*updated);
          countOut(m_items[*own]);
          m_items[*own] = std::move(*updated);
        } else {
          eraseAt(*own);
        }
        return;
      }
    }
    loadDeferred();
  }
  synchronize();
  const std::optional<std::size_t> position = positionOf(id);
  if (!position) {
    // Nothing to write: the files are as they should be, unless they could not be read.
    if (m_blocked) {
      m_lastError = *m_blocked;
    } else if (!m_rewriteNeeded) {
      m_lastError.reset();
    }
    return;
  }
  LogChange change;
  if (m_keepHistory) {
    Item& item = m_items[*position];
    countOut(item);
    LogEntry entry = item.entry();
    entry.status = status;
    if (target) entry.target = target;
    if (reason) entry.reason = reason;
    entry.trace.insert(entry.trace.end(), trace.begin(), trace.end());
    entry.bound();
    item = itemOf(entry);
    countIn(item);
    change.put.push_back(std::move(entry));
  } else if (status != DecisionStatus::pending) {
    change.drop.push_back(id);
    eraseAt(*position);
  }
  persist(std::move(change), false);
}

std::optional<LogEntry> DecisionLog::entry(const Uuid& id) {
  std::lock_guard guard(m_mutex);
  // What this object recorded is in the files as it is here (only its own changes touch it).
  if (m_deferred) {
    if (const std::optional<std::size_t> own = positionOf(id)) return m_items[*own].entry();
  }
  FileLock lock(m_file, false);
  loadDeferred();
  synchronize();
  const std::optional<std::size_t> position = positionOf(id);
  if (!position) return std::nullopt;
  return m_items[*position].entry();
}

std::vector<LogEntry> DecisionLog::recent(std::size_t count) {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  loadDeferred();
  synchronize();
  std::vector<LogEntry> entries;
  const std::size_t first = m_items.size() > count ? m_items.size() - count : 0;
  entries.reserve(m_items.size() - first);
  for (std::size_t i = first; i < m_items.size(); ++i) entries.push_back(m_items[i].entry());
  return entries;
}

std::vector<LogEntry> DecisionLog::all() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  loadDeferred();
  synchronize();
  std::vector<LogEntry> entries;
  entries.reserve(m_items.size());
  for (auto item = m_items.rbegin(); item != m_items.rend(); ++item) {
    entries.push_back(item->entry());
  }
  return entries;
}

std::vector<LogEntry> DecisionLog::unrouted() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  loadDeferred();
  synchronize();
  std::vector<LogEntry> pending;
  for (const Item& item : m_items) {
    if (item.status == DecisionStatus::pending) pending.push_back(item.entry());
  }
  return pending;
}

PickerOrdering::Usage DecisionLog::usage() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, false);
  loadDeferred();
  synchronize();
  return m_uses;
}

void DecisionLog::setKeepHistory(bool keepHistory) {
  std::lock_guard guard(m_mutex);
  if (keepHistory == m_keepHistory) return;
  m_keepHistory = keepHistory;
  if (keepHistory) return;
  FileLock lock(m_file, true);
  loadDeferred();
  synchronize();
  LogChange change;
  std::erase_if(m_items, [&](const Item& item) {
    const bool decided = item.status != DecisionStatus::pending;
    if (decided) change.drop.push_back(item.id);
    return decided;
  });
  reindex();
  for (Item& item : m_items) {
    if (!item.traced) continue;
    LogEntry entry = item.entry();
    entry.trace.clear();
    Item cleared = itemOf(entry);
    countIn(cleared);
    countOut(item);
    item = std::move(cleared);
    change.put.push_back(std::move(entry));
  }
  const bool changed = !change.empty();
  persist(std::move(change), changed);
}

void DecisionLog::setRetention(std::int64_t days) {
  std::lock_guard guard(m_mutex);
  m_retention = static_cast<double>(days) * kSecondsPerDay;
  FileLock lock(m_file, true);
  loadDeferred();
  synchronize();
  LogChange change;
  prune(change.drop);
  // Most calls set the retention the log already has (every start): no rewrite then.
  const bool dropped = !change.empty();
  persist(std::move(change), dropped);
}

void DecisionLog::clear() {
  std::lock_guard guard(m_mutex);
  FileLock lock(m_file, true);
  loadDeferred();
  synchronize();
  m_items.clear();
  reindex();
  LogChange change;
  change.clear = true;
  persist(std::move(change), true);
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
