#include "signals/SQLiteSnapshot.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string_view>
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fixtures/BrowserDatabases.h"
#include "fixtures/RealBrowsers.h"
#include "foundation/Files.h"
#include "signals/SQLiteError.h"
#include "support/TestSupport.h"

extern char** environ;

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnvironment;
using testing::TemporaryDirectory;

std::int64_t count(const SQLiteSnapshot& snapshot, const std::string& sql) {
  std::int64_t value = -1;
  snapshot.forEachRow(sql, [&](const SQLiteRow& row) { value = row.integer(0); });
  return value;
}

// Every file of a folder with its bytes.
std::map<std::string, std::string> contents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = Files::read(entry.path());
  }
  return files;
}

// Private copies ("linkferry-<UUID>") in a temporary folder; the tests' own folders
// ("linkferry-test-...") do not count.
bool hasCopyFolders(const fs::path& temporary) {
  for (const auto& entry : fs::directory_iterator(temporary)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("linkferry-", 0) == 0 && name.rfind("linkferry-test-", 0) != 0) return true;
  }
  return false;
}

// A database in WAL mode whose last rows are only in its log: the connection stays open with
// automatic checkpoints off, as a running browser keeps it.
struct OpenWalDatabase {
  explicit OpenWalDatabase(const fs::path& path) : db(path) {
    db.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
    db.exec("CREATE TABLE t(x INTEGER); INSERT INTO t VALUES (1), (2), (3);");
  }
  fixtures::FixtureDatabase db;
};

TEST(SQLiteSnapshot, OpenFailuresCarryThePathAndSQLitesMessage) {
  TemporaryDirectory folder;
  EXPECT_THROW(
      try { SQLiteSnapshot(folder.path() / "absent.sqlite"); } catch (const SQLiteError& error) {
        EXPECT_EQ(error.description(), "missing " + (folder.path() / "absent.sqlite").string());
        throw;
      },
      SQLiteError);

  const fs::path text = folder.write("notes.sqlite", "These are notes, not a database.\n");
  const fs::path whole = folder.path() / "whole.sqlite";
  fixtures::writeChromiumHistory(whole, std::vector<fixtures::ChromiumVisit>(
                                            2000, {std::string(300, 'u'), 13441103539786956, 1}));
  std::string bytes = Files::read(whole);
  const fs::path truncated = folder.write("truncated.sqlite", bytes.substr(0, bytes.size() / 3));

  const std::vector<std::pair<fs::path, std::string>> cases = {
      {text, "file is not a database"},
      {truncated, "database disk image is malformed"},
  };
  for (const auto& [path, message] : cases) {
    SCOPED_TRACE(path.string());
    try {
      SQLiteSnapshot snapshot(path);
      count(snapshot, "SELECT COUNT(*) FROM urls");
      ADD_FAILURE() << "read without error";
    } catch (const SQLiteError& error) {
      EXPECT_EQ(error.description(), message);
    }
  }
}

TEST(SQLiteSnapshot, ReadsInPlaceUnlessALogOrJournalHoldsData) {
  TemporaryDirectory folder;
  TemporaryDirectory temporary;
  ScopedEnvironment tmpdir("TMPDIR", temporary.path().c_str());
  // Characters that mean something in a URI must not cut the file name short.
  const fs::path odd = folder.path() / "a ?b#c%41 d" / "History";
  fixtures::writeChromiumHistory(odd, {{"http://a.example/", 13441103539786956, 1}});
  folder.write("a ?b#c%41 d/History-wal", "");
  folder.write("a ?b#c%41 d/History-journal", "");
  {
    SQLiteSnapshot snapshot(odd);
    EXPECT_FALSE(snapshot.copyDir());
    EXPECT_EQ(count(snapshot, "SELECT COUNT(*) FROM urls"), 1);
  }

  const fs::path wal = folder.path() / "wal" / "places.sqlite";
  OpenWalDatabase live(wal);
  ASSERT_GT(fs::file_size(fs::path(wal.string() + "-wal")), 0u);
  const auto before = contents(wal.parent_path());
  {
    SQLiteSnapshot snapshot(wal);
    ASSERT_TRUE(snapshot.copyDir());
    EXPECT_EQ(snapshot.copyDir()->parent_path(), temporary.path());
    EXPECT_EQ(snapshot.copyDir()->filename().string().rfind("linkferry-", 0), 0u);
    EXPECT_TRUE(fs::exists(*snapshot.copyDir() / "places.sqlite-wal"));
    EXPECT_EQ(count(snapshot, "SELECT SUM(x) FROM t"), 6);
  }
  EXPECT_FALSE(hasCopyFolders(temporary.path()));
  EXPECT_EQ(contents(wal.parent_path()), before);
}

// A process that dies in the middle of a large transaction leaves its database half-written with
// a hot journal beside it, as Chromium's History is between its commits.
TEST(SQLiteSnapshot, RollsAnInterruptedTransactionBackInAPrivateCopy) {
  TemporaryDirectory folder;
  TemporaryDirectory temporary;
  ScopedEnvironment tmpdir("TMPDIR", temporary.path().c_str());
  const fs::path history = folder.path() / "History";
  fixtures::writeChromiumHistory(history, std::vector<fixtures::ChromiumVisit>(
                                              3000, {std::string(200, 'u'), 13441103539786956, 1}));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = nullptr;
    sqlite3_open(history.c_str(), &db);
    // A tiny cache makes SQLite spill changed pages into the database before the commit.
    sqlite3_exec(
        db, "PRAGMA synchronous=OFF; PRAGMA cache_size=2; BEGIN; UPDATE urls SET visit_count = 99;",
        nullptr, nullptr, nullptr);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const fs::path journal = folder.path() / "History-journal";
  ASSERT_TRUE(fs::exists(journal));
  ASSERT_GT(fs::file_size(journal), 0u);
  const auto before = contents(folder.path());

  {
    // What an immutable read in place would see: pages of the unfinished transaction.
    sqlite3* raw = nullptr;
    std::string uri = "file:" + history.string() + "?mode=ro&immutable=1";
    sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(raw, "SELECT COUNT(*) FROM urls WHERE visit_count = 99", -1, &statement,
                       nullptr);
    int step = sqlite3_step(statement);
    bool tornInPlace = step != SQLITE_ROW || sqlite3_column_int64(statement, 0) > 0;
    sqlite3_finalize(statement);
    sqlite3_close(raw);
    EXPECT_TRUE(tornInPlace) << "the fixture did not leave changed pages in the database";
  }

  {
    SQLiteSnapshot snapshot(history);
    ASSERT_TRUE(snapshot.copyDir());
    EXPECT_EQ(count(snapshot, "SELECT COUNT(*) FROM urls WHERE visit_count = 1"), 3000);
  }
  EXPECT_FALSE(hasCopyFolders(temporary.path()));
  EXPECT_EQ(contents(folder.path()), before);
}

pid_t spawn(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// The places database to hand to the writer: the one a real Firefox wrote when the browser
// fixture could run, else one with the same schema.
fs::path placesDatabase(const fs::path& folder) {
  const fs::path target = folder / "places.sqlite";
  if (const auto& data = testing::realBrowserData(); data.ok("firefox")) {
    fs::copy_file(data.firefoxProfile("work") / "places.sqlite", target);
  } else {
    fixtures::writeFirefoxPlaces(target, {{"http://app.example.com/login", 1796629972367632, 2}});
  }
  return target;
}

TEST(SQLiteSnapshot, EveryReadIsConsistentWhileAWriterCommitsAndCheckpoints) {
  TemporaryDirectory folder;
  TemporaryDirectory temporary;
  ScopedEnvironment tmpdir("TMPDIR", temporary.path().c_str());
  const fs::path places = placesDatabase(folder.path());
  const fs::path ready = folder.path() / "ready";
  pid_t writer = spawn({LINKFERRY_WAL_WRITER, places.string(), ready.string()});
  ASSERT_GT(writer, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(ready) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(fs::exists(ready)) << "the writer did not start";
  fs::remove(ready);

  const std::string sql =
      "SELECT (SELECT COALESCE(SUM(visit_count), 0) FROM moz_places WHERE url LIKE "
      "'http://writer.example/%'), (SELECT visits FROM writer_total)";
  int reads = 0, copies = 0, refused = 0;
  std::int64_t last = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    try {
      SQLiteSnapshot snapshot(places);
      if (snapshot.copyDir()) ++copies;
      snapshot.forEachRow(sql, [&](const SQLiteRow& row) {
        EXPECT_EQ(row.integer(0), row.integer(1)) << "read " << reads;
        EXPECT_GE(row.integer(1), last);
        last = row.integer(1);
      });
      ++reads;
    } catch (const SQLiteError& error) {
      // A writer committing every few milliseconds can outpace the copy on a busy machine; the
      // snapshot then refuses rather than pair a database with a log of another moment.
      if (std::string_view(error.what()).find("kept changing") == std::string_view::npos) {
        ADD_FAILURE() << "read " << reads << ": " << error.what();
      }
      ++refused;
    } catch (const std::exception& error) {
      ADD_FAILURE() << "read " << reads << ": " << error.what();
    }
    EXPECT_FALSE(hasCopyFolders(temporary.path()));
  }
  kill(writer, SIGKILL);
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own";
  EXPECT_GT(reads, 10);
  EXPECT_LT(refused, reads) << "most snapshots should succeed";
  EXPECT_GT(copies, 0);
  EXPECT_GT(last, 0);

  // With the writer gone (its log left behind, as after a crash), reading changes nothing.
  const auto before = contents(folder.path());
  ASSERT_GT(before.count("places.sqlite-wal"), 0u);
  {
    SQLiteSnapshot snapshot(places);
    std::int64_t total = -1;
    snapshot.forEachRow(sql, [&](const SQLiteRow& row) {
      EXPECT_EQ(row.integer(0), row.integer(1));
      total = row.integer(1);
    });
    EXPECT_GE(total, last);
  }
  EXPECT_EQ(contents(folder.path()), before);
  EXPECT_FALSE(hasCopyFolders(temporary.path()));
}

}  // namespace
}  // namespace linkferry
