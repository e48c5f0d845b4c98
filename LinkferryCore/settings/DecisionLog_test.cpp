#include "settings/DecisionLog.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "fixtures/StoredLog.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Text.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

constexpr double kDay = 86400;
const Date kNow = Date::fromSecondsSinceReferenceDate(800'000'000.25);

LinkRequest arrival(int n, Date at = kNow) {
  return LinkRequest(*URL::parse("https://a.test/" + std::to_string(n)), "com.app",
                     std::nullopt, at);
}

std::vector<std::string> urls(const std::vector<LogEntry>& entries) {
  std::vector<std::string> result;
  for (const LogEntry& entry : entries) result.push_back(entry.url.absoluteString());
  return result;
}

struct Fixture {
  // Whatever log.json a test leaves, every reader of it must read alike.
  ~Fixture() { testing::expectReadersAgreeOn(file); }
  TemporaryDirectory folder;
  std::filesystem::path file = folder.path() / "data" / "log.json";
  Date now = kNow;
  DecisionLog::Clock clock() {
    return [this] { return now; };
  }
  std::filesystem::path journal = file.string() + ".journal";
  JsonValue onDisk() const { return testing::storedLog(file); }
  // A rewrite replaces log.json (a new inode) and anything else grows the journal.
  std::pair<ino_t, std::uintmax_t> stamp() const {
    struct stat status {};
    ::stat(file.c_str(), &status);
    std::error_code missing;
    const std::uintmax_t journalSize = std::filesystem::file_size(journal, missing);
    return {status.st_ino, missing ? 0 : journalSize};
  }
};

TEST(DecisionLog, RecordsUpdatesAndAnswersQueries) {
  Fixture fixture;
  DecisionLog log(fixture.file, 30, true, fixture.clock());
  std::vector<Uuid> ids;
  for (int n = 1; n <= 5; ++n) ids.push_back(log.record(arrival(n)));
  EXPECT_EQ(log.lastError(), std::nullopt);

  log.update(ids[1], DecisionStatus::picked, BrowserTarget{"firefox"}, "chosen", {"a"});
  log.update(ids[1], DecisionStatus::routed, std::nullopt, std::nullopt, {"b"});
  LogEntry second = *log.entry(ids[1]);
  EXPECT_EQ(second.status, DecisionStatus::routed);
  EXPECT_EQ(second.target, BrowserTarget{"firefox"});
  EXPECT_EQ(second.reason, "chosen");
  EXPECT_EQ(second.trace, (std::vector<std::string>{"a", "b"}));

  EXPECT_EQ(urls(log.recent(3)),
            (std::vector<std::string>{"https://a.test/3", "https://a.test/4", "https://a.test/5"}));
  EXPECT_EQ(urls(log.recent(0)), std::vector<std::string>{});
  EXPECT_EQ(log.all().front().id, ids[4]);
  EXPECT_EQ(log.unrouted().size(), 4u);

  // The files hold exactly what the log holds, dates in seconds since 2001.
  JsonValue file = fixture.onDisk();
  ASSERT_EQ(file.size(), 5u);
  EXPECT_EQ(file[1]["receivedAt"], 800'000'000.25);
  EXPECT_EQ(file[1]["id"], ids[1].string());
  EXPECT_FALSE(file[0].contains("target"));
  EXPECT_FALSE(file[0].contains("sourceWindow"));
  EXPECT_EQ(DecisionLog(fixture.file, 30, true, fixture.clock()).all(), log.all());

  // An unknown id writes nothing.
  const auto before = fixture.stamp();
  log.update(Uuid::random(), DecisionStatus::routed, std::nullopt, std::nullopt, {});
  EXPECT_EQ(fixture.stamp(), before);

  // Setting the retention the log has, or one that drops nothing, writes nothing: every start
  // does it.
  log.setRetention(30);
  log.setRetention(3650);
  EXPECT_EQ(fixture.stamp(), before);
  EXPECT_EQ(log.lastError(), std::nullopt);

  // Once rewritten (here as the journal is full), log.json alone is byte for byte the log's own
  // encoding of its entries, the updated ones included, and the journal is gone.
  DecisionLog(fixture.file, 30, true, fixture.clock(), 1)
      .update(ids[0], DecisionStatus::pending, std::nullopt, std::nullopt, {});
  std::vector<LogEntry> oldestFirst = log.all();
  std::reverse(oldestFirst.begin(), oldestFirst.end());
  EXPECT_EQ(Files::read(fixture.file), LogFile::encode(oldestFirst));
  EXPECT_FALSE(std::filesystem::exists(fixture.journal));
}

TEST(DecisionLog, WithoutHistoryKeepsOnlyPendingEntries) {
  Fixture fixture;
  DecisionLog log(fixture.file, 30, true, fixture.clock());
  Uuid decided = log.record(arrival(1));
  Uuid waiting = log.record(arrival(2));
  log.update(decided, DecisionStatus::routed, BrowserTarget{"a"}, std::nullopt, {"x"});
  log.update(waiting, DecisionStatus::pending, std::nullopt, std::nullopt, {"trace"});

  log.setKeepHistory(false);
  EXPECT_EQ(urls(log.all()), std::vector<std::string>{"https://a.test/2"});
  EXPECT_TRUE(log.entry(waiting)->trace.empty());
  EXPECT_EQ(fixture.onDisk().size(), 1u);
  // The file holds the changed entry, not the bytes it was written with before.
  EXPECT_EQ(DecisionLog(fixture.file, 30, false, fixture.clock()).all(), log.all());

  const auto before = fixture.stamp();
  log.setKeepHistory(false);  // unchanged: no write
  EXPECT_EQ(fixture.stamp(), before);
  log.setKeepHistory(true);
  log.setKeepHistory(false);  // nothing decided, no trace: nothing to write
  EXPECT_EQ(fixture.stamp(), before);
  log.update(waiting, DecisionStatus::pending, BrowserTarget{"b"}, std::nullopt, {"y"});
  EXPECT_EQ(log.entry(waiting)->target, std::nullopt);
  log.update(waiting, DecisionStatus::cancelled, std::nullopt, std::nullopt, {});
  EXPECT_EQ(log.all().size(), 0u);
}

TEST(DecisionLog, LoadDropsAgedEntriesAndRewritesOnlyWithoutHistory) {
  for (bool keepHistory : {true, false}) {
    SCOPED_TRACE(keepHistory);
    Fixture fixture;
    {
      DecisionLog writer(fixture.file, 3650, true, fixture.clock());
      Uuid old = writer.record(arrival(1, kNow.adding(-40 * kDay)));
      writer.update(old, DecisionStatus::routed, std::nullopt, std::nullopt, {});
      writer.record(arrival(2));
    }
    DecisionLog log(fixture.file, 30, keepHistory, fixture.clock());
    EXPECT_EQ(urls(log.all()), std::vector<std::string>{"https://a.test/2"});
    EXPECT_EQ(fixture.onDisk().size(), keepHistory ? 2u : 1u);
  }
}

// The log holds the user's browsing: it is the user's alone like its journal, also when an
// earlier version left it readable by others.
TEST(DecisionLog, LogAndJournalAreReadableByTheUserAlone) {
  auto mode = [](const std::filesystem::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
  };
  for (bool existedWideOpen : {false, true}) {
    SCOPED_TRACE(existedWideOpen);
    Fixture fixture;
    if (existedWideOpen) {
      Files::writeAtomically(fixture.file, "[]");
      ASSERT_EQ(::chmod(fixture.file.c_str(), 0644), 0);
    }
    DecisionLog log(fixture.file, 30, true, fixture.clock());
    log.record(arrival(1));
    log.clear();
    EXPECT_EQ(mode(fixture.file), 0600u);
    log.record(arrival(2));
    if (std::filesystem::exists(fixture.journal)) EXPECT_EQ(mode(fixture.journal), 0600u);
  }
}

// A retention of zero or less must not prune the entry `record` has just written before its
// update arrives, and no retention may overflow.
TEST(DecisionLog, RetentionNeverPrunesYoungPendingEntries) {
  Fixture fixture;
  DecisionLog log(fixture.file, 30, true, fixture.clock());
  log.record(arrival(1, kNow.adding(-2 * kDay)));
  Uuid decided = log.record(arrival(2, kNow.adding(-60)));
  log.update(decided, DecisionStatus::routed, std::nullopt, std::nullopt, {});
  log.setRetention(0);
  EXPECT_EQ(log.all().size(), 0u);
  log.record(arrival(5, kNow.adding(-2 * kDay)));  // past the retention as it arrives
  EXPECT_EQ(log.all().size(), 0u);
  EXPECT_EQ(fixture.onDisk().size(), 0u);

  Uuid id = log.record(arrival(3, kNow.adding(-60)));
  fixture.now = kNow.adding(3600);
  log.setRetention(-5);
  log.update(id, DecisionStatus::routed, std::nullopt, "kept", {});
  EXPECT_EQ(log.entry(id)->reason, "kept");

  log.setRetention(std::numeric_limits<std::int64_t>::max());
  log.record(arrival(4, Date{-1e12}));
  EXPECT_EQ(log.all().size(), 2u);
  log.setRetention(std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(log.all().size(), 0u);
}

// Entries arrive nearly in time order, but some come late (a slow click, another process's).
// Two processes share the files; whatever the order, each keeps exactly the entries a look at
// every entry would keep, and finds each by its id.
TEST(DecisionLog, PrunesExactlyWhatIsPastTheRetentionWhateverTheArrivalOrder) {
  struct Expected {
    Uuid id;
    std::string url;
    Date at;
    bool pending;
  };
  for (const auto& [days, keepHistory] : {std::pair{2, true}, {0, true}, {2, false}}) {
    SCOPED_TRACE(std::to_string(days) + " days, history " + (keepHistory ? "on" : "off"));
    Fixture fixture;
    DecisionLog first(fixture.file, days, keepHistory, fixture.clock(), 4096);
    DecisionLog second(fixture.file, days, keepHistory, fixture.clock(), 4096);
    std::vector<Expected> model;
    std::uint32_t seed = 7;
    auto next = [&](std::uint32_t bound) {
      seed = seed * 1664525u + 1013904223u;
      return (seed >> 8) % bound;
    };
    auto decide = [&, keepHistory = keepHistory](DecisionLog& log, std::size_t i) {
      log.update(model[i].id, DecisionStatus::routed, std::nullopt, std::nullopt, {});
      if (keepHistory) {
        model[i].pending = false;
      } else {
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(i));
      }
    };
    for (int n = 0; n < 300; ++n) {
      fixture.now = fixture.now.adding(next(4) == 0 ? 0.4 * kDay : 600);
      // One in five arrives late, by up to a day and a half.
      const Date at = fixture.now.adding(next(5) == 0 ? -static_cast<double>(next(130'000)) : 0);
      DecisionLog& log = next(2) ? first : second;
      const Uuid id = log.record(arrival(n, at));
      model.push_back({id, "https://a.test/" + std::to_string(n), at, true});
      auto prune = [&, days = days] {
        const Date cutoff = fixture.now.adding(-days * kDay);
        std::erase_if(model, [&](const Expected& entry) {
          return entry.at < cutoff && !(entry.pending && fixture.now.secondsSince(entry.at) < kDay);
        });
      };
      prune();
      if (!model.empty() && model.back().id == id && next(3) != 0) decide(log, model.size() - 1);
      // Now and then an older pending entry is decided, wherever it lies.
      if (!model.empty() && next(4) == 0) {
        const std::size_t i = next(static_cast<std::uint32_t>(model.size()));
        if (model[i].pending) decide(next(2) ? first : second, i);
      }
      // A decided entry may be past a retention of zero at once: the process that decided it
      // prunes it at its next change, the other as it reads the change.
      first.setRetention(days);
      second.setRetention(days);
      prune();

      std::vector<std::string> expected;
      for (const Expected& entry : model) expected.push_back(entry.url);
      ASSERT_EQ(urls(first.recent(model.size() + 1)), expected) << "after arrival " << n;
      ASSERT_EQ(urls(second.recent(model.size() + 1)), expected) << "after arrival " << n;
      for (const Expected& entry : model) {
        ASSERT_EQ(first.entry(entry.id)->url.absoluteString(), entry.url);
        ASSERT_EQ(second.entry(entry.id)->url.absoluteString(), entry.url);
      }
    }
    EXPECT_EQ(first.lastError(), std::nullopt);
    EXPECT_EQ(second.lastError(), std::nullopt);
  }
}

// Files written by hand may hold an id twice: every operation, in every process, concerns the
// newest entry with it, and the older one when the newer is gone.
TEST(DecisionLog, AnIdHeldTwiceMeansItsNewestEntry) {
  Fixture fixture;
  const Uuid twice = Uuid::random();
  std::vector<LogEntry> entries;
  auto add = [&](const Uuid& id, int n, double daysAgo) {
    entries.emplace_back(id, *URL::parse("https://a.test/" + std::to_string(n)), "com.app",
                         std::nullopt, kNow.adding(-daysAgo * kDay), DecisionStatus::pending,
                         std::nullopt, std::nullopt, std::vector<std::string>{});
  };
  add(twice, 1, 3);
  add(twice, 2, 1.5);
  add(Uuid::random(), 3, 1.2);
  add(twice, 4, 1);
  add(Uuid::random(), 5, 0.1);
  std::filesystem::create_directories(fixture.file.parent_path());
  Files::writeAtomically(fixture.file, LogFile::encode(entries));

  DecisionLog log(fixture.file, 30, true, fixture.clock());
  EXPECT_EQ(log.entry(twice)->url.absoluteString(), "https://a.test/4");
  log.setRetention(2);  // the oldest goes; the newest with the id stays what it was
  EXPECT_EQ(log.entry(twice)->url.absoluteString(), "https://a.test/4");

  // Without history a decided entry leaves: in this process and, through the journal, in the
  // other one.
  DecisionLog other(fixture.file, 2, false, fixture.clock());
  other.update(twice, DecisionStatus::routed, std::nullopt, std::nullopt, {});
  EXPECT_EQ(other.entry(twice)->url.absoluteString(), "https://a.test/2");
  EXPECT_EQ(log.entry(twice)->url.absoluteString(), "https://a.test/2");
  log.update(twice, DecisionStatus::picked, BrowserTarget{"b"}, std::nullopt, {});
  EXPECT_EQ(log.entry(twice)->target, BrowserTarget{"b"});
  EXPECT_EQ(urls(log.recent(9)),
            (std::vector<std::string>{"https://a.test/2", "https://a.test/3", "https://a.test/5"}));
  EXPECT_EQ(DecisionLog(fixture.file, 2, true, fixture.clock()).recent(9), log.recent(9));
}

TEST(DecisionLog, MovesEveryBadFileAsideKeepingItsBytes) {
  Fixture fixture;
  std::filesystem::create_directories(fixture.file.parent_path());
  const std::string first = "{\"not\": \"a list\"}";
  const std::string second = "[{\"id\": 1}]";
  Files::writeAtomically(fixture.file, first);
  {
    DecisionLog log(fixture.file, 30, true, fixture.clock());
    ASSERT_TRUE(log.lastError().has_value());
    EXPECT_EQ(*log.lastError(), "unreadable log moved aside: " + fixture.file.string() +
                                    ": expected an array, got an object");
    EXPECT_EQ(log.all().size(), 0u);
    log.record(arrival(1));
    EXPECT_EQ(log.lastError(), std::nullopt);
  }
  Files::writeAtomically(fixture.file, second);
  DecisionLog log(fixture.file, 30, true, fixture.clock());
  EXPECT_TRUE(log.lastError()->starts_with("unreadable log moved aside: " +
                                           fixture.file.string() + ": [0].id: expected a string"))
      << *log.lastError();
  EXPECT_EQ(Files::read(fixture.file.string() + ".corrupt"), first);
  EXPECT_EQ(Files::read(fixture.file.string() + ".corrupt.1"), second);
}

// A log that exists but cannot be read is reported after every change and never written over.
TEST(DecisionLog, NeverWritesOverALogItCannotRead) {
  for (bool journal : {false, true}) {
    SCOPED_TRACE(journal);
    Fixture fixture;
    const std::filesystem::path& unreadable = journal ? fixture.journal : fixture.file;
    std::filesystem::create_directories(unreadable / "inside");
    DecisionLog log(fixture.file, 30, true, fixture.clock());
    ASSERT_TRUE(log.lastError().has_value());
    const std::string reason = "cannot read " + unreadable.string() + ": ";
    EXPECT_TRUE(log.lastError()->starts_with(reason)) << *log.lastError();
    const Uuid id = log.record(arrival(1));
    EXPECT_TRUE(log.lastError().value_or("").starts_with(reason));
    log.update(id, DecisionStatus::routed, std::nullopt, std::nullopt, {});
    EXPECT_TRUE(log.lastError().value_or("").starts_with(reason));
    log.update(Uuid::random(), DecisionStatus::routed, std::nullopt, std::nullopt, {});
    EXPECT_TRUE(log.lastError().value_or("").starts_with(reason));
    log.clear();
    EXPECT_TRUE(log.lastError().value_or("").starts_with(reason));
    EXPECT_TRUE(std::filesystem::is_directory(unreadable / "inside"));

    // Once the file can be read again, it is used and written.
    std::filesystem::remove_all(unreadable);
    log.record(arrival(2));
    EXPECT_EQ(log.lastError(), std::nullopt);
    EXPECT_EQ(fixture.onDisk().size(), 1u);
  }
}

// Regression: a FIFO, a link to /dev/zero or an oversized file in place of either file stopped
// every later write for good. Each is moved aside unread, reported, and the log goes on.
TEST(DecisionLog, MovesAsideWhatIsNotALogFileAndGoesOn) {
  const std::vector<std::pair<std::string, std::function<void(const std::filesystem::path&)>>>
      makers = {
          {"not a regular file",
           [](const std::filesystem::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
          {"not a regular file",
           [](const std::filesystem::path& path) {
             std::filesystem::create_symlink("/dev/zero", path);
           }},
          {"larger than 64 MB",
           [](const std::filesystem::path& path) {
             std::ofstream{path};
             std::filesystem::resize_file(path, DecisionLog::kFileLimit + 1);  // sparse
           }},
      };
  for (bool journal : {false, true}) {
    for (const auto& [problem, make] : makers) {
      SCOPED_TRACE(problem + (journal ? " (journal)" : " (log.json)"));
      Fixture fixture;
      Uuid kept;
      {
        DecisionLog writer(fixture.file, 30, true, fixture.clock());
        kept = writer.record(arrival(1));  // log.json
      }
      const std::filesystem::path& bad = journal ? fixture.journal : fixture.file;
      std::filesystem::remove(bad);
      make(bad);
      DecisionLog log(fixture.file, 30, true, fixture.clock());
      const std::string prefix = journal ? "unreadable log journal moved aside: cannot read "
                                         : "unreadable log moved aside: cannot read ";
      EXPECT_EQ(log.lastError(), prefix + bad.string() + ": " + problem);
      EXPECT_EQ(log.entry(kept).has_value(), journal);
      EXPECT_TRUE(std::filesystem::exists(
          std::filesystem::symlink_status(bad.string() + ".corrupt")));
      log.record(arrival(2));
      EXPECT_EQ(log.lastError(), std::nullopt);
      EXPECT_EQ(fixture.onDisk().size(), journal ? 2u : 1u);
    }
  }
}

// Every change that does not reach the files says so, and the first one that does clears it and
// writes what was kept in memory.
TEST(DecisionLog, ReportsAFailedWriteAndKeepsTheChangeInMemory) {
  Fixture fixture;
  // The log's folder is a plain file, so neither the folder nor the log can be made.
  Files::writeAtomically(fixture.folder.path() / "file", "x");
  const auto file = fixture.folder.path() / "file" / "log.json";
  DecisionLog log(file, 30, true, fixture.clock());
  const Uuid id = log.record(arrival(1));
  ASSERT_TRUE(log.lastError().has_value());
  EXPECT_TRUE(log.lastError()->starts_with("cannot write " + file.string() + ": "))
      << *log.lastError();
  EXPECT_EQ(log.all().size(), 1u);
  log.update(id, DecisionStatus::routed, BrowserTarget{"a"}, std::nullopt, {});
  EXPECT_TRUE(log.lastError().has_value());
  // Nothing to write, but the files still miss the earlier changes.
  log.update(Uuid::random(), DecisionStatus::routed, std::nullopt, std::nullopt, {});
  EXPECT_TRUE(log.lastError().has_value());

  std::filesystem::remove(fixture.folder.path() / "file");
  log.update(Uuid::random(), DecisionStatus::routed, std::nullopt, std::nullopt, {});
  EXPECT_TRUE(log.lastError().has_value());
  log.record(arrival(2));
  EXPECT_EQ(log.lastError(), std::nullopt);
  EXPECT_EQ(testing::storedLog(file).size(), 2u);
  EXPECT_EQ(DecisionLog(file, 30, true, fixture.clock()).entry(id)->target, BrowserTarget{"a"});
}

void appendBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::app | std::ios::binary) << bytes;
}

// A writer killed inside its write leaves part of a line. That costs no entry and no error, and
// the next writer writes over it, even when its line ends the journal at the very size another
// process saw with the broken line in it.
TEST(DecisionLog, IgnoresABrokenLastLineOfTheJournal) {
  Fixture fixture;
  // A log.json as an older writer left it, without a journal.
  const LogEntry old(Uuid::random(), *URL::parse("https://a.test/0"), "com.app", std::nullopt,
                     kNow, DecisionStatus::routed, BrowserTarget{"a"}, "rule", {"trace"});
  Files::writeAtomically(fixture.file, LogFile::encode({old}));
  DecisionLog writer(fixture.file, 30, true, fixture.clock());
  DecisionLog reader(fixture.file, 30, true, fixture.clock());  // as another process would
  writer.record(arrival(1));
  const std::uintmax_t before = fixture.stamp().second;
  writer.record(arrival(2));
  const std::uintmax_t length = fixture.stamp().second - before;  // a record's line
  EXPECT_EQ(urls(reader.recent(5)),
            (std::vector<std::string>{"https://a.test/0", "https://a.test/1", "https://a.test/2"}));

  // An unfinished line exactly as long as the next record's.
  appendBytes(fixture.journal, Files::read(fixture.journal).substr(before, length - 1) + ",");
  EXPECT_EQ(reader.all().size(), 3u);
  EXPECT_EQ(DecisionLog(fixture.file, 30, true, fixture.clock()).all().size(), 3u);
  const std::uintmax_t broken = fixture.stamp().second;
  writer.record(arrival(3));
  EXPECT_EQ(fixture.stamp().second, broken);
  EXPECT_EQ(urls(reader.recent(2)),
            (std::vector<std::string>{"https://a.test/2", "https://a.test/3"}));

  appendBytes(fixture.journal, "{\"add\": [{\"id\": ");
  EXPECT_EQ(reader.all().size(), 4u);
  writer.record(arrival(4));
  EXPECT_EQ(reader.all().size(), 5u);
  DecisionLog fresh(fixture.file, 30, true, fixture.clock());
  EXPECT_EQ(fresh.all(), writer.all());
  EXPECT_EQ(fresh.all().back(), old);
  for (const DecisionLog* log : {&writer, &reader, &fresh}) {
    EXPECT_EQ(log->lastError(), std::nullopt);
  }
  EXPECT_FALSE(std::filesystem::exists(fixture.journal.string() + ".corrupt"));
}

// A damaged complete line, amid others or the last one (regression: a last one was taken for a
// torn write and written over): every readable change is kept and written to log.json, and the
// journal's bytes are kept beside it.
TEST(DecisionLog, MovesADamagedJournalAsideKeepingItsChanges) {
  for (bool last : {false, true}) {
    SCOPED_TRACE(last);
    Fixture fixture;
    {
      DecisionLog writer(fixture.file, 30, true, fixture.clock());
      writer.record(arrival(1));  // log.json
      writer.record(arrival(2));  // the journal's first line
      writer.record(arrival(3));
    }
    const std::string lines = Files::read(fixture.journal);
    const std::size_t second = last ? lines.size() : lines.find('\n') + 1;
    const std::string damaged =
        lines.substr(0, second) + "{\"put\": 7}\n" + lines.substr(second);
    Files::writeAtomically(fixture.journal, damaged);

    DecisionLog log(fixture.file, 30, true, fixture.clock());
    ASSERT_TRUE(log.lastError().has_value());
    EXPECT_TRUE(log.lastError()->starts_with("unreadable log journal moved aside: " +
                                             fixture.journal.string() + ", line " +
                                             (last ? "3" : "2") + ": "))
        << *log.lastError();
    const std::vector<std::string> all = {"https://a.test/1", "https://a.test/2",
                                          "https://a.test/3"};
    EXPECT_EQ(urls(log.recent(5)), all);
    EXPECT_EQ(Files::read(fixture.journal.string() + ".corrupt"), damaged);
    EXPECT_FALSE(std::filesystem::exists(fixture.journal));
    EXPECT_EQ(urls(LogFile::decode(Files::read(fixture.file), "log.json")), all);
    log.record(arrival(4));
    EXPECT_EQ(log.lastError(), std::nullopt);
    EXPECT_EQ(Files::read(fixture.journal.string() + ".corrupt"), damaged);
  }
}

// Regression: 139 clicks of 250 KB links made a log.json no load accepts, which then stopped
// every write. Huge texts are kept shortened, with their length, in entries that still load and
// are found by id.
TEST(DecisionLog, KeepsHugeTextsShortened) {
  Fixture fixture;
  const std::string link = "https://a.test/" + std::string(250'000 - 15, 'a');
  const std::string title(300'000, 'w');
  DecisionLog log(fixture.file, 30, true, fixture.clock());
  std::vector<Uuid> ids;
  for (int n = 0; n < 40; ++n) {
    ids.push_back(log.record(LinkRequest(*URL::parse(link), "com.app", title, kNow)));
    log.update(ids.back(), DecisionStatus::routed, BrowserTarget{"b"}, title,
               std::vector<std::string>(150, "step"));
    ASSERT_EQ(log.lastError(), std::nullopt);
  }
  EXPECT_LT(std::filesystem::file_size(fixture.file) +
                std::filesystem::file_size(fixture.journal),
            40 * 40'000u);

  DecisionLog fresh(fixture.file, 30, true, fixture.clock());
  EXPECT_EQ(fresh.lastError(), std::nullopt);
  std::optional<LogEntry> entry = fresh.entry(ids[7]);
  ASSERT_TRUE(entry.has_value());
  const std::string url = entry->url.absoluteString();
  EXPECT_LE(url.size(), LogEntry::kURLLimit);
  EXPECT_TRUE(url.starts_with("https://a.test/aaaa")) << url.substr(0, 40);
  EXPECT_TRUE(url.ends_with("a%E2%80%A6%20(250000%20characters)")) << url.substr(url.size() - 40);
  EXPECT_TRUE(entry->sourceWindow->ends_with("w \u2026 (300000 characters)"));
  EXPECT_EQ(Text::characterCount(*entry->sourceWindow), LogEntry::kTextLimit);
  EXPECT_EQ(entry->reason, entry->sourceWindow);
  ASSERT_EQ(entry->trace.size(), LogEntry::kTraceLimit);
  EXPECT_EQ(entry->trace.back(), "\u2026 (51 more lines)");

  // Shortening what is shortened changes nothing; lines added later are counted with the rest.
  LogEntry again = *entry;
  again.bound();
  EXPECT_EQ(again, *entry);
  fresh.update(ids[7], DecisionStatus::routed, std::nullopt, std::nullopt, {"x", "y"});
  EXPECT_EQ(fresh.entry(ids[7])->trace.back(), "\u2026 (53 more lines)");
  EXPECT_EQ(fresh.entry(ids[7])->trace.size(), LogEntry::kTraceLimit);
}

// Whatever clicks bring, the entries stay within the size limit: the oldest decided entries go
// first, pending ones only after them, and a fresh load reads what was kept.
TEST(DecisionLog, DropsTheOldestEntriesPastTheSizeLimit) {
  Fixture fixture;
  constexpr std::uint64_t kLimit = 6000;
  DecisionLog log(fixture.file, 30, true, fixture.clock(), 2000, kLimit);
  const Uuid waiting = log.record(arrival(0));
  std::vector<Uuid> decided;
  for (int n = 1; n <= 60; ++n) {
    const Uuid id = log.record(arrival(n));
    log.update(id, DecisionStatus::routed, BrowserTarget{"b"}, "rule", {"a step of the trace"});
    decided.push_back(id);
    const std::uint64_t stored = std::filesystem::file_size(fixture.file);
    ASSERT_LE(stored, kLimit) << n;
    ASSERT_EQ(log.lastError(), std::nullopt);
  }
  EXPECT_LT(log.all().size(), 60u);
  EXPECT_TRUE(log.entry(waiting).has_value());
  EXPECT_TRUE(log.entry(decided.back()).has_value());
  EXPECT_FALSE(log.entry(decided.front()).has_value());
  EXPECT_EQ(DecisionLog(fixture.file, 30, true, fixture.clock()).all(), log.all());
  std::vector<LogEntry> oldestFirst = log.all();
  std::reverse(oldestFirst.begin(), oldestFirst.end());
  EXPECT_LE(LogFile::encode(oldestFirst).size(), kLimit);

  // Pending entries go too once nothing decided is left, the newest one never.
  for (int n = 100; n < 160; ++n) log.record(arrival(n));
  EXPECT_FALSE(log.entry(waiting).has_value());
  EXPECT_EQ(log.all().front().url.absoluteString(), "https://a.test/159");
  EXPECT_LE(std::filesystem::file_size(fixture.file), kLimit);

  // At the limit a click drops an old entry or two through the journal: log.json is not
  // rewritten for every click.
  DecisionLog steady(fixture.file, 30, true, fixture.clock(), 1 << 20, kLimit);
  const auto before = fixture.stamp();
  for (int n = 200; n < 220; ++n) {
    const Uuid id = steady.record(arrival(n));
    steady.update(id, DecisionStatus::routed, BrowserTarget{"b"}, "rule", {"a step"});
    std::vector<LogEntry> oldestFirst = steady.all();
    std::reverse(oldestFirst.begin(), oldestFirst.end());
    ASSERT_LE(LogFile::encode(oldestFirst).size(), kLimit) << n;
  }
  EXPECT_EQ(steady.all().front().url.absoluteString(), "https://a.test/219");
  EXPECT_EQ(fixture.stamp().first, before.first);
  EXPECT_GT(fixture.stamp().second, before.second);
  EXPECT_EQ(DecisionLog(fixture.file, 30, true, fixture.clock()).all(), steady.all());
  EXPECT_EQ(log.all(), steady.all());
}

// log.json is rewritten first and the journal removed after. A process killed in between (the
// journal kept here through a second name and put back), or before the rewrite (log.json put back
// too), leaves files that load as the log after the change: the journal's lines applied again
// neither bring back what the change removed nor undo what it changed.
TEST(DecisionLog, AJournalLeftBesideARewriteChangesNothing) {
  using Keep = std::function<void()>;
  const std::vector<std::pair<std::string, std::function<void(DecisionLog&, Fixture&, Keep)>>>
      changes = {
          {"clear", [](DecisionLog& log, Fixture&, Keep keep) { keep(), log.clear(); }},
          {"retention", [](DecisionLog& log, Fixture&, Keep keep) { keep(), log.setRetention(1); }},
          {"history off",
           [](DecisionLog& log, Fixture&, Keep keep) { keep(), log.setKeepHistory(false); }},
          {"full journal",
           [](DecisionLog& log, Fixture& fixture, Keep keep) {
             for (int n = 10; std::filesystem::exists(fixture.journal); ++n) {
               keep();
               log.update(log.record(arrival(n)), DecisionStatus::routed, BrowserTarget{"b"},
                          std::nullopt, {"z"});
             }
           }},
      };
  for (const auto& [name, change] : changes) {
    for (bool killedBeforeTheRewrite : {false, true}) {
      SCOPED_TRACE(name + (killedBeforeTheRewrite ? ", before the rewrite" : ""));
      Fixture fixture;
      DecisionLog log(fixture.file, 30, true, fixture.clock(), 1500);
      const Uuid old = log.record(arrival(1, kNow.adding(-3 * kDay)));
      log.update(old, DecisionStatus::routed, BrowserTarget{"a"}, "rule", {"x"});
      const Uuid waiting = log.record(arrival(2));
      log.update(waiting, DecisionStatus::pending, std::nullopt, std::nullopt, {"y"});
      log.record(arrival(3));
      ASSERT_TRUE(std::filesystem::exists(fixture.journal));

      const auto keptJournal = fixture.folder.path() / "journal";
      const auto keptLog = fixture.folder.path() / "log";
      change(log, fixture, [&] {
        std::filesystem::remove(keptJournal);
        std::filesystem::remove(keptLog);
        std::filesystem::create_hard_link(fixture.journal, keptJournal);
        std::filesystem::create_hard_link(fixture.file, keptLog);
      });
      ASSERT_FALSE(std::filesystem::exists(fixture.journal));
      const std::vector<LogEntry> after = log.all();
      std::filesystem::rename(keptJournal, fixture.journal);
      if (killedBeforeTheRewrite) std::filesystem::rename(keptLog, fixture.file);

      DecisionLog reloaded(fixture.file, 36500, true, fixture.clock());
      EXPECT_EQ(reloaded.all(), after);
      EXPECT_EQ(reloaded.lastError(), std::nullopt);
    }
  }
}

// A click's log taken by a process that reads none of the files: record and update append their
// lines to the journal, log.json stays as it is, and the files then load exactly as if a loaded
// log had made the same changes (only pruning waits for that load).
TEST(DecisionLog, DeferredLoadAppendsWithoutReadingTheFiles) {
  for (bool keepHistory : {true, false}) {
    SCOPED_TRACE(keepHistory);
    Fixture deferred, loaded;
    for (Fixture* fixture : {&deferred, &loaded}) {
      DecisionLog log(fixture->file, 30, true, fixture->clock());
      for (int n = 0; n < 20; ++n) log.record(arrival(n));
      log.setRetention(3650);
      log.clear();  // log.json written, no journal
      for (int n = 0; n < 20; ++n) log.record(arrival(n, kNow.adding(-40 * kDay)));
      log.setKeepHistory(false);
      log.setKeepHistory(true);
    }
    // An aged entry stays until a load prunes it.
    const auto before = deferred.stamp();
    std::vector<Uuid> ids;
    {
      DecisionLog log(DecisionLog::DeferLoad{}, deferred.file, 30, keepHistory,
                      deferred.clock());
      ids.push_back(log.record(arrival(100)));
      ids.push_back(log.record(arrival(101)));
      log.update(ids[0], DecisionStatus::routed, BrowserTarget{"b"}, "rule", {"one"});
      log.update(ids[1], DecisionStatus::pending, std::nullopt, std::nullopt, {"two"});
      EXPECT_EQ(log.lastError(), std::nullopt);
      EXPECT_EQ(deferred.stamp().first, before.first);
      EXPECT_GT(deferred.stamp().second, before.second);
      if (keepHistory) {
        EXPECT_EQ(log.entry(ids[0])->trace, std::vector<std::string>{"one"});
        EXPECT_EQ(deferred.stamp().first, before.first);
      } else {
        // Gone from what it recorded: only a load can tell (and, without history, rewrites).
        EXPECT_EQ(log.entry(ids[0]), std::nullopt);
      }
    }
    {
      DecisionLog log(loaded.file, 30, keepHistory, loaded.clock());
      const Uuid first = log.record(arrival(100));
      const Uuid second = log.record(arrival(101));
      log.update(first, DecisionStatus::routed, BrowserTarget{"b"}, "rule", {"one"});
      log.update(second, DecisionStatus::pending, std::nullopt, std::nullopt, {"two"});
    }
    DecisionLog fromDeferred(deferred.file, 30, keepHistory, deferred.clock());
    DecisionLog fromLoaded(loaded.file, 30, keepHistory, loaded.clock());
    const std::vector<LogEntry> entries = fromDeferred.all();
    ASSERT_EQ(entries.size(), keepHistory ? 2u : 1u);
    EXPECT_EQ(entries.back().id, ids[keepHistory ? 0 : 1]);
    EXPECT_EQ(urls(entries), urls(fromLoaded.all()));
    EXPECT_EQ(entries.front().trace, (keepHistory ? std::vector<std::string>{"two"}
                                                  : std::vector<std::string>{}));
  }
}

// Whatever a deferred log cannot append on its own, it does after loading the files, as a loaded
// log does: a query, a change of an entry it did not record, a full journal, a missing log.json.
TEST(DecisionLog, DeferredLoadLoadsWhenItMust) {
  Fixture fixture;
  std::vector<Uuid> ids;
  {
    DecisionLog log(fixture.file, 30, true, fixture.clock());
    for (int n = 0; n < 3; ++n) ids.push_back(log.record(arrival(n)));
  }
  {
    // No log.json yet: the first record writes it, as a loaded log's first record does.
    Fixture empty;
    DecisionLog log(DecisionLog::DeferLoad{}, empty.file, 30, true, empty.clock());
    const Uuid id = log.record(arrival(1));
    EXPECT_EQ(empty.onDisk().size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(empty.file));
    EXPECT_EQ(log.entry(id)->url.absoluteString(), "https://a.test/1");
  }
  {
    DecisionLog log(DecisionLog::DeferLoad{}, fixture.file, 30, true, fixture.clock());
    log.update(ids[0], DecisionStatus::routed, std::nullopt, "earlier", {});
    const Uuid mine = log.record(arrival(3));
    EXPECT_EQ(log.entry(ids[0])->reason, "earlier");
    EXPECT_EQ(urls(log.recent(2)),
              (std::vector<std::string>{"https://a.test/2", "https://a.test/3"}));
    log.update(mine, DecisionStatus::routed, std::nullopt, std::nullopt, {});
    EXPECT_EQ(log.entry(mine)->status, DecisionStatus::routed);
  }
  {
    // A journal past its limit is folded into log.json.
    DecisionLog log(DecisionLog::DeferLoad{}, fixture.file, 30, true, fixture.clock(), 300);
    const auto before = fixture.stamp();
    log.record(arrival(4));
    log.record(arrival(5));
    EXPECT_NE(fixture.stamp().first, before.first);
  }
  EXPECT_EQ(fixture.onDisk().size(), 6u);
  EXPECT_EQ(fixture.onDisk()[0]["reason"], "earlier");
}

std::string described(const PickerOrdering::Usage& usage) {
  std::vector<std::string> uses;
  for (const auto& [target, count] : usage) {
    uses.push_back(target.description() + ": " + std::to_string(count));
  }
  std::sort(uses.begin(), uses.end());
  std::string text;
  for (const std::string& use : uses) text += "[" + use + "]";
  return text;
}

// The count of uses the log keeps as entries come and go is at every step the count over all its
// entries: through records and updates that set, change and clear what counts (private windows
// counting for their normal target, a name the file cannot hold as it is), pruning by age and by
// size, another process's changes, history turned off and on, clearing, and reloads of the
// files, deferred ones among them, starting from files that hold an id twice.
TEST(DecisionLog, KeepsItsCountOfUsesEqualToACountOverAllEntries) {
  Fixture fixture;
  const std::vector<std::optional<BrowserTarget>> targets = {
      std::nullopt,
      BrowserTarget{"firefox"},
      BrowserTarget{"firefox", "work"},
      BrowserTarget{"firefox", "work", std::nullopt, true},
      BrowserTarget{"chromium", std::nullopt, "2"},
      BrowserTarget{"chromium", std::string("caf\xe9")},
  };
  std::mt19937 random(20240611);
  auto pick = [&](std::size_t count) {
    return static_cast<std::size_t>(random() % static_cast<std::uint32_t>(count));
  };
  auto status = [&] { return allDecisionStatusCases[pick(allDecisionStatusCases.size())]; };
  auto target = [&] { return targets[pick(targets.size())]; };

  std::vector<Uuid> ids;
  std::vector<LogEntry> start;
  for (int n = 0; n < 40; ++n) {
    const Uuid id = n % 10 == 9 ? ids[static_cast<std::size_t>(n - 5)] : Uuid::random();
    ids.push_back(id);
    start.emplace_back(id, *URL::parse("https://a.test/" + std::to_string(n)), "com.app",
                       std::nullopt, kNow.adding(-kDay * (40 - n)), status(), target(),
                       std::nullopt, std::vector<std::string>{});
  }
  std::filesystem::create_directories(fixture.file.parent_path());
  Files::writeAtomically(fixture.file, LogFile::encode(start));

  constexpr std::uint64_t kJournalLimit = 3000, kSizeLimit = 12000;
  auto open = [&](bool deferred) {
    return deferred ? std::make_unique<DecisionLog>(DecisionLog::DeferLoad{}, fixture.file, 30,
                                                    true, fixture.clock(), kJournalLimit,
                                                    kSizeLimit)
                    : std::make_unique<DecisionLog>(fixture.file, 30, true, fixture.clock(),
                                                    kJournalLimit, kSizeLimit);
  };
  std::unique_ptr<DecisionLog> log = open(false);
  std::unique_ptr<DecisionLog> other = open(false);
  auto click = [&](DecisionLog& into) {
    // Now and then an arrival already past the retention.
    const double daysAgo = pick(8) == 0 ? 40 : static_cast<double>(pick(3));
    const Uuid id =
        into.record(arrival(static_cast<int>(ids.size()), fixture.now.adding(-kDay * daysAgo)));
    ids.push_back(id);
    if (pick(4) != 0) into.update(id, status(), target(), "why", {"step"});
  };

  std::int64_t mostUses = 0;
  for (int step = 0; step < 600; ++step) {
    SCOPED_TRACE(step);
    const std::size_t what = pick(100);
    if (step == 400) {
      log->clear();
    } else if (what < 40) {
      click(*log);
    } else if (what < 75) {
      log->update(ids[pick(ids.size())], status(), target(), std::nullopt, {"again"});
    } else if (what < 83) {
      click(*other);
    } else if (what < 89) {
      fixture.now = fixture.now.adding(3600.0 * static_cast<double>(pick(12)));
    } else if (what < 92) {
      log->setRetention(static_cast<std::int64_t>(2 + pick(30)));
    } else if (what < 93 || (what < 97 && !log->keepHistory())) {
      log->setKeepHistory(!log->keepHistory());
    } else {
      // The changes of a one-click process that never loads, then a reload: a fresh load here.
      const bool keepHistory = log->keepHistory();
      auto deferred = open(true);
      click(*deferred);
      deferred.reset();
      log = open(pick(2) == 0);
      log->setKeepHistory(keepHistory);
      click(*log);
    }
    const PickerOrdering::Usage kept = log->usage();
    const PickerOrdering::Usage counted = PickerOrdering::usage(log->all());
    ASSERT_TRUE(kept == counted) << described(kept) << " instead of " << described(counted);
    ASSERT_TRUE(other->usage() == PickerOrdering::usage(other->all()));
    for (const auto& [used, count] : kept) mostUses = std::max(mostUses, count);
  }
  EXPECT_GE(mostUses, 5);  // the count is not trivially right
  EXPECT_EQ(log->usage().count(BrowserTarget{"firefox", "work", std::nullopt, true}), 0u);
}

// A varied log (every member present or absent, escapes, non-ASCII text, odd numbers) reads the
// same through the log's own readers and the generic one, in the log's encoding and in another
// writer's spacing.
TEST(LogFile, OwnReadersAgreeWithTheGenericOneOnAVariedLog) {
  std::vector<LogEntry> entries;
  const std::vector<std::string> texts = {"", "plain", "tab\tquote\"back\\slash", "Grüße ✓ 🇩🇪",
                                          std::string("\x01\x1f\x7f"), "</script>/"};
  for (int n = 0; n < 300; ++n) {
    const std::string& text = texts[n % texts.size()];
    auto some = [&](int k) { return (n >> k) % 2 ? std::optional<std::string>(text) : std::nullopt; };
    std::optional<BrowserTarget> target;
    if (n % 3) target = BrowserTarget{"browser " + text, some(1), some(2), n % 5 == 0};
    std::vector<std::string> trace;
    for (int line = 0; line < n % 4; ++line) trace.push_back(text + std::to_string(line));
    entries.emplace_back(Uuid::random(), *URL::parse("https://x.test/" + std::to_string(n) + "?q=ä"),
                         some(0), some(3), Date::fromSecondsSinceReferenceDate(n * 1e5 / 7 - 3),
                         allDecisionStatusCases[n % allDecisionStatusCases.size()], target,
                         some(4), trace);
  }
  const std::string own = LogFile::encode(entries);
  testing::expectReadersAgree(own);
  EXPECT_EQ(LogFile::decode(own, "log.json"), entries);
  JsonValue generic = JsonValue::array();
  for (const LogEntry& entry : entries) generic.push_back(entry.toJson());
  testing::expectReadersAgree(generic.dump(2));
  ASSERT_TRUE(LogFile::scan(generic.dump(2)));
  EXPECT_EQ(LogFile::scan(generic.dump(2))->size(), entries.size());
}

LogEntry sample(std::string text, std::optional<BrowserTarget> target, double seconds) {
  return LogEntry(Uuid::random(), *URL::parse("https://b.test/p?q=" + std::to_string(seconds)),
                  text, std::nullopt, Date::fromSecondsSinceReferenceDate(seconds),
                  DecisionStatus::failed, std::move(target), text + "!", {text, "", "[x] y"});
}

// The log's own encoder must say exactly what the generic JSON encoder says.
TEST(LogFile, OwnEncoderDecodesLikeTheGenericOne) {
  std::vector<LogEntry> entries = {
      sample("plain", std::nullopt, 0),
      sample("quote \" backslash \\ slash / tab \t newline \n nul", BrowserTarget{"a"}, -1.5),
      sample(std::string("\x01\x1f\x7f control"), BrowserTarget{"b", "P 1", "c", true}, 1e-7),
      sample("Grüße ✓ 🇩🇪", BrowserTarget{"c", std::nullopt, std::nullopt, true}, 1e15 + 0.5),
      sample("bad \xff\xfe utf-8 \xed\xa0\x80", BrowserTarget{"d", "\xc3"}, 123456789.123456789),
  };
  entries[1].sourceWindow = "Window — title";
  entries[2].status = DecisionStatus::pending;
  entries[2].reason.reset();
  entries[2].sourceApp.reset();
  JsonValue generic = JsonValue::array();
  for (const LogEntry& entry : entries) generic.push_back(entry.toJson());
  const std::string own = LogFile::encode(entries);
  const std::vector<LogEntry> fromOwn = LogFile::decode(own, "own");
  EXPECT_EQ(fromOwn, LogFile::decode(Json::encodeCompact(generic), "generic"));
  JsonValue wellFormed = generic;
  wellFormed.erase(wellFormed.size() - 1);
  JsonValue ownWellFormed = JsonValue::parse(own);
  ownWellFormed.erase(ownWellFormed.size() - 1);
  EXPECT_EQ(ownWellFormed, wellFormed);
  // Well-formed entries come back unchanged; the last one's invalid bytes were replaced.
  EXPECT_EQ(std::vector<LogEntry>(fromOwn.begin(), fromOwn.end() - 1),
            std::vector<LogEntry>(entries.begin(), entries.end() - 1));
  EXPECT_EQ(LogFile::encode({}), "[]");
}

// The log's own reader must accept, read and refuse exactly what the generic JSON reader does,
// whatever another writer's spacing, escapes, member order or extra members.
TEST(LogFile, OwnReaderAgreesWithTheGenericOne) {
  const std::string id = "\"id\":\"e621e1f8-c36c-495a-93fc-0c247a3e6e5f\"";
  const std::string rest = "\"url\":\"https://a.test/\",\"status\":\"routed\",\"trace\":[]";
  const std::vector<std::string> texts = {
      "[]",
      " [ ] ",
      "[{" + id + "," + rest + ",\"receivedAt\":1.5}]",
      "[ {\"receivedAt\" : -0 , " + rest + " ,\n " + id + "} ]",
      "[{" + id + "," + rest + ",\"receivedAt\":9007199254740993}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1e400}]",
      "[{" + id + "," + rest + ",\"receivedAt\":18446744073709551616}]",
      "[{" + id + "," + rest + ",\"receivedAt\":01}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1,\"sourceApp\":\"\\u00e9\\ud83d\\ude00\\/\\n\"}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1,\"sourceApp\":\"\\ud83d\"}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1,\"sourceApp\":\"\xff\"}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1,\"sourceApp\":\"\t\"}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1,\"sourceApp\":null,\"other\":[1,{}]}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1,\"receivedAt\":2}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1,\"target\":{\"privateMode\":true}}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1,\"target\":{\"browser\":\"b\",\"privateMode\":true}}]",
      "[{" + id + "," + rest + ",\"receivedAt\":1}",
      "[{" + id + "," + rest + ",\"receivedAt\":1},]",
      "[{" + id + "," + rest + "}]",
      "\xef\xbb\xbf[]",
      "[] x",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    testing::expectReadersAgree(text);
  }
}

}  // namespace
}  // namespace linkferry
