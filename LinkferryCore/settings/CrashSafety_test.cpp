// Real processes against the settings and log files: a writer killed at random moments, and two
// writers at once.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "fixtures/SettingsChurn.h"
#include "foundation/Files.h"
#include "settings/AppSettings.h"
#include "settings/DecisionLog.h"
#include "support/TestSupport.h"

extern char** environ;

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

// A running probe whose standard output we read.
class Probe {
 public:
  explicit Probe(const std::vector<std::string>& arguments) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> argv;
    std::string program = LINKFERRY_SETTINGS_PROBE;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int error = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    m_fd = fds[0];
    if (error != 0) throw std::runtime_error("cannot start the probe");
  }
  ~Probe() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      wait();
    }
    ::close(m_fd);
  }

  // The next line of output; nothing at the end.
  std::optional<std::string> line() {
    while (true) {
      if (auto newline = m_buffer.find('\n'); newline != std::string::npos) {
        std::string text = m_buffer.substr(0, newline);
        m_buffer.erase(0, newline + 1);
        return text;
      }
      char chunk[4096];
      ssize_t count = ::read(m_fd, chunk, sizeof chunk);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return std::nullopt;
      m_buffer.append(chunk, static_cast<std::size_t>(count));
    }
  }
  void kill() { ::kill(m_pid, SIGKILL); }
  int wait() {
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return status;
  }

 private:
  pid_t m_pid = -1;
  int m_fd = -1;
  std::string m_buffer;
};

testing::ChurnLogState stateOf(const std::vector<LogEntry>& entries) {
  return {static_cast<std::int64_t>(entries.size()),
          !entries.empty() && entries.back().status == DecisionStatus::pending};
}

// Killed at random moments while it saves settings and writes the log, the probe leaves files
// that parse and hold either the content before or after the interrupted write; a later clean
// save leaves nothing else behind.
TEST(CrashSafety, KilledWritersLeaveTheBeforeOrTheAfterContent) {
  TemporaryDirectory folder;
  const auto settingsFile = folder.path() / "settings.json";
  const auto logFile = folder.path() / "log.json";
  std::mt19937 random(20261207);
  std::int64_t saved = 0;  // the settings save the file holds
  testing::ChurnLogState log;
  int roundsThatWrote = 0;
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    // A small journal: kills land in rewrites of log.json too, not only in appends.
    Probe probe({"churn", folder.path().string(), std::to_string(saved), "3000"});
    ASSERT_EQ(probe.line(), "ready");
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    probe.kill();
    int status = probe.wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << "probe ended on its own";
    std::int64_t reportedSave = saved;
    testing::ChurnLogState reportedLog = log;
    while (auto line = probe.line()) {
      std::istringstream words(*line);
      std::string kind;
      words >> kind;
      if (kind == "S") {
        words >> reportedSave;
      } else if (kind == "L") {
        int pending = 0;
        words >> reportedLog.entries >> pending;
        reportedLog.lastPending = pending != 0;
      } else {
        FAIL() << *line;
      }
    }
    if (reportedSave != saved) ++roundsThatWrote;

    if (reportedSave > 0) {
      const std::string text = Files::read(settingsFile);
      AppSettings::decode(text, settingsFile.string());
      const bool before = text == testing::churnSettings(reportedSave).encode();
      const bool after = text == testing::churnSettings(reportedSave + 1).encode();
      ASSERT_TRUE(before || after) << text;
      saved = after ? reportedSave + 1 : reportedSave;
    }
    if (std::filesystem::exists(logFile)) {
      // log.json itself is always a whole log, whatever the journal beside it holds.
      LogFile::decode(Files::read(logFile), logFile.string());
      DecisionLog loaded(logFile, 3650, true);
      ASSERT_EQ(loaded.lastError(), std::nullopt);
      std::vector<LogEntry> entries = loaded.all();
      std::reverse(entries.begin(), entries.end());
      const testing::ChurnLogState found = stateOf(entries);
      ASSERT_TRUE(found == reportedLog || found == testing::nextChurnLogState(reportedLog))
          << found.entries << " " << found.lastPending;
      log = found;
    }
  }
  // Kills landed both between and inside writes of both files.
  EXPECT_GT(roundsThatWrote, 5);
  EXPECT_GT(saved, 5);

  // One clean save of each file.
  testing::churnSettings(saved + 1).save(settingsFile);
  DecisionLog clean(logFile, 3650, true);
  clean.record(LinkRequest(*URL::parse("https://example.test/"), Date::now()));
  EXPECT_EQ(clean.lastError(), std::nullopt);
  std::set<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder.path())) {
    names.insert(item.path().filename().string());
  }
  names.erase("log.json.journal");
  EXPECT_EQ(names, (std::set<std::string>{"log.json", "log.json.lock", "settings.json"}));
}

// Two processes recording at the same moment lose no entry, whether they only append to the
// journal or also rewrite log.json every few clicks under each other.
TEST(CrashSafety, TwoProcessesRecordingLoseNoEntry) {
  for (const char* journalLimit : {"262144", "2000"}) {
    SCOPED_TRACE(journalLimit);
    TemporaryDirectory folder;
    constexpr int kEach = 150;
    {
      // Held until both are ready, so that they record at the same time.
      const int start =
          ::open((folder.path() / "start").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      ASSERT_EQ(::flock(start, LOCK_EX), 0);
      Probe first({"record", folder.path().string(), std::to_string(kEach), "one", journalLimit});
      Probe second({"record", folder.path().string(), std::to_string(kEach), "two", journalLimit});
      EXPECT_EQ(first.line(), "ready");
      EXPECT_EQ(second.line(), "ready");
      ::close(start);
      EXPECT_EQ(first.line(), std::nullopt);
      EXPECT_EQ(second.line(), std::nullopt);
      EXPECT_EQ(first.wait(), 0);
      EXPECT_EQ(second.wait(), 0);
    }
    DecisionLog log(folder.path() / "log.json", 3650, true);
    std::vector<LogEntry> entries = log.all();
    ASSERT_EQ(entries.size(), 2u * kEach);
    std::set<std::string> seen;
    int interleavings = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const LogEntry& entry = entries[i];
      EXPECT_EQ(entry.status, DecisionStatus::routed);
      EXPECT_EQ(entry.target, BrowserTarget{*entry.sourceApp});
      EXPECT_TRUE(seen.insert(entry.url.absoluteString()).second) << entry.url.absoluteString();
      if (i > 0 && entries[i - 1].sourceApp != entry.sourceApp) ++interleavings;
    }
    // Both really wrote at the same time.
    EXPECT_GT(interleavings, 1);
  }
}

}  // namespace
}  // namespace linkferry
