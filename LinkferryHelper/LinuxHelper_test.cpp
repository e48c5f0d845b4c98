// The real programs end to end: `linkferry launch --via-helper` starts linkferry-helper, which
// checks the sender and the plan and starts a recorder registered as a browser in temporary XDG
// folders. Nothing of the machine's own configuration is read or changed.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "LinuxFront.h"
#include "foundation/Process.h"
#include "launching/HelperProtocol.h"
#include "launching/HelperSocket.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path& path) {
  std::ifstream stream(path);
  return std::string(std::istreambuf_iterator<char>(stream), {});
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return condition();
}

class LinuxHelperEndToEnd : public ::testing::Test {
 protected:
  testing::TemporaryDirectory folder;
  std::filesystem::path record = folder.path() / "record.txt";
  std::filesystem::path pwned = folder.path() / "pwned";
  std::filesystem::path searchPath = folder.path() / "search-path.txt";
  std::filesystem::path launches = folder.path() / "launches.txt";
  std::map<std::string, std::string> environment;
  std::filesystem::path socket;

  void SetUp() override {
    const auto root = folder.path();
    for (const char* sub : {"home", "data/applications", "sys", "config/linkferry", "run", "bin"}) {
      std::filesystem::create_directories(root / sub);
    }
    ::chmod((root / "run").c_str(), 0700);
    // The recorder is the test's stand-in browser; a shell script is fine here, the helper
    // itself never uses a shell. Its files appear whole (written aside, then renamed), and every
    // launch is also added to the list of launches.
    const auto recorder = folder.write(
        "bin/recorder", "#!/bin/sh\nprintf '%s\\n' \"$PATH\" > '" + searchPath.string() +
                            ".new' && mv '" + searchPath.string() + ".new' '" +
                            searchPath.string() + "'\nprintf '%s\\n' \"$@\" >> '" +
                            launches.string() + "'\nprintf '%s\\n' \"$@\" > '" +
                            record.string() + ".new' && mv '" + record.string() + ".new' '" +
                            record.string() + "'\n");
    ::chmod(recorder.c_str(), 0755);
    folder.write("data/applications/recorder.desktop",
                 "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + recorder.string() +
                     " --from-entry %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
    // A desktop entry that is a FIFO would block any reader that opens it for reading.
    ASSERT_EQ(::mkfifo((root / "data/applications/stuck.desktop").c_str(), 0600), 0);
    // A custom definition LinkFerry would happily build a plan for, but the helper must refuse.
    folder.write("config/linkferry/browsers.json",
                 R"([{"id":"evil","name":"Evil","family":"other","appPath":"/usr/bin/touch",)"
                 R"("launchArguments":[")" +
                     pwned.string() + R"("]}])");
    environment = {
        {"HOME", (root / "home").string()},
        {"XDG_DATA_HOME", (root / "data").string()},
        {"XDG_DATA_DIRS", (root / "sys").string()},
        {"XDG_CONFIG_HOME", (root / "config").string()},
        {"XDG_RUNTIME_DIR", (root / "run").string()},
        {"PATH", (root / "bin").string() + ":/usr/bin:/bin"},
        {"LINKFERRY_HELPER_IDLE_SECONDS", "10"},
    };
    socket = HelperSocket::path(environment);
  }

  void TearDown() override {
    // The helper leaves by itself when idle; the test waits so that nothing outlives it.
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(socket); }, 60s))
        << "the helper did not exit when idle";
  }

  Process::Result linkferry(std::vector<std::string> arguments) {
    Process::Options options;
    options.environment = environment;
    options.captureOutput = true;
    return Process::run((testing::binaryDirectory() / "cli/linkferry").string(), arguments,
                        options);
  }
};

TEST_F(LinuxHelperEndToEnd, RunsLinkFerrysPlansAndRefusesTheRest) {
  // A real request from the real program, the helper started on demand.
  const auto opened =
      linkferry({"launch", "https://a.test/page?x=1", "--browser", "recorder", "--via-helper"});
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError;
  ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(record); }, 30s));
  EXPECT_EQ(readFile(record), "--from-entry\nhttps://a.test/page?x=1\n");
  // Not the PATH the helper was started with, where a planted gtk-launch would come first.
  EXPECT_EQ(readFile(searchPath), std::string(LinuxHelper::kFixedSearchPath) + "\n");
  EXPECT_TRUE(std::filesystem::exists(socket));

  // Silent clients hold connections open; the next request is answered all the same.
  std::vector<int> silent;
  for (int i = 0; i < 20; ++i) silent.push_back(HelperSocket::connect(socket));
  std::filesystem::remove(record);
  const auto past = linkferry({"launch", "https://a.test/2", "--browser", "recorder", "--via-helper"});
  EXPECT_EQ(past.exitStatus, 0) << past.standardError;
  EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(record); }, 30s));
  for (const int connection : silent) {
    EXPECT_GE(connection, 0);
    ::close(connection);
  }

  // A plan of another program, from the real program: refused, nothing runs.
  const auto refused =
      linkferry({"launch", "https://a.test/", "--browser", "evil", "--via-helper"});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_NE(refused.standardError.find("not a LinkFerry launch"), std::string::npos)
      << refused.standardError;

  // A valid request from a program that is not linkferry: refused before it is decoded.
  std::filesystem::remove(record);
  const LaunchPlan plan((folder.path() / "bin/recorder").string(),
                        {"--from-entry", "https://b.test/"}, {});
  const int connection = HelperSocket::connect(socket);
  ASSERT_GE(connection, 0);
  const auto answer =
      HelperSocket::exchange(connection, HelperProtocol::url(plan).absoluteString(), 10s);
  EXPECT_EQ(answer.status, HelperSocket::Answer::Status::refused);
  EXPECT_EQ(answer.message, "LinkFerry Helper: request refused, not sent by LinkFerry");

  // A launch the helper does make comes after anything the refused requests could have started.
  const auto after =
      linkferry({"launch", "https://a.test/after", "--browser", "recorder", "--via-helper"});
  EXPECT_EQ(after.exitStatus, 0) << after.standardError;
  ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(record); }, 30s));
  EXPECT_EQ(readFile(record), "--from-entry\nhttps://a.test/after\n");
  EXPECT_EQ(readFile(launches).find("https://b.test/"), std::string::npos) << readFile(launches);
  EXPECT_FALSE(std::filesystem::exists(pwned));
}

TEST(LinuxHelperFront, SocketFolderMustBeOurs) {
  testing::TemporaryDirectory folder;
  const auto open = folder.path() / "open";
  std::filesystem::create_directories(open);
  ::chmod(open.c_str(), 0755);
  EXPECT_THROW(HelperSocket::prepareFolder(open / "helper.sock"), std::runtime_error);
  std::filesystem::create_symlink(folder.path(), folder.path() / "link");
  EXPECT_THROW(HelperSocket::prepareFolder(folder.path() / "link" / "helper.sock"),
               std::runtime_error);
  EXPECT_NO_THROW(HelperSocket::prepareFolder(folder.path() / "fresh" / "helper.sock"));
  struct stat status {};
  ASSERT_EQ(::stat((folder.path() / "fresh").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);

  EXPECT_EQ(HelperSocket::path({{"XDG_RUNTIME_DIR", "/run/user/7"}}),
            "/run/user/7/linkferry/helper.sock");
  EXPECT_EQ(HelperSocket::path({{"XDG_RUNTIME_DIR", "relative"}}),
            "/tmp/linkferry-" + std::to_string(::getuid()) + "/helper.sock");
}

TEST(LinuxHelperFront, RequestFramesEndAtTheNewlineWithinTheLimit) {
  using State = LinuxHelper::RequestFrame::State;
  LinuxHelper::RequestFrame pieces;
  EXPECT_EQ(pieces.feed("https://a"), State::reading);
  EXPECT_EQ(pieces.request(), std::nullopt);
  EXPECT_EQ(pieces.feed(".test\nignored"), State::complete);
  EXPECT_EQ(pieces.feed("more\n"), State::complete);
  EXPECT_EQ(pieces.request(), "https://a.test");

  LinuxHelper::RequestFrame exact;  // the newline counts against the limit
  EXPECT_EQ(exact.feed(std::string(HelperSocket::kMaxRequest - 1, 'a')), State::reading);
  EXPECT_EQ(exact.feed("\n"), State::complete);
  LinuxHelper::RequestFrame over;
  EXPECT_EQ(over.feed(std::string(HelperSocket::kMaxRequest, 'a')), State::reading);
  EXPECT_EQ(over.feed("\n"), State::invalid);
  EXPECT_EQ(over.request(), std::nullopt);

  LinuxHelper::RequestFrame unterminated;
  unterminated.feed("https://a.test");
  unterminated.finish();
  EXPECT_EQ(unterminated.state(), State::invalid);
}

// The helper on its own: it refuses a socket path that something else holds, and its welcome
// alert speaks of no App Store.
TEST(LinuxHelperFront, StandaloneHelperSaysWhatIsWrong) {
  testing::TemporaryDirectory folder;
  std::filesystem::create_directories(folder.path() / "run" / "linkferry");
  ::chmod((folder.path() / "run").c_str(), 0700);
  ::chmod((folder.path() / "run" / "linkferry").c_str(), 0700);
  const auto taken = folder.write("run/linkferry/helper.sock", "mine");
  Process::Options options;
  options.environment = std::map<std::string, std::string>{
      {"HOME", folder.path().string()},
      {"XDG_RUNTIME_DIR", (folder.path() / "run").string()},
      {"XDG_DATA_HOME", (folder.path() / "data").string()},
      {"XDG_DATA_DIRS", (folder.path() / "sys").string()},
      {"PATH", "/usr/bin:/bin"}};
  const auto helper = (testing::binaryDirectory() / "LinkferryHelper/linkferry-helper").string();
  const auto refused = Process::run(helper, {"--idle-seconds", "1.5"}, options);
  EXPECT_NE(refused.exitStatus, 0);
  EXPECT_NE(refused.standardError.find(taken.string() + " is taken by something"),
            std::string::npos)
      << refused.standardError;
  EXPECT_EQ(readFile(taken), "mine");

  std::filesystem::remove(taken);
  const auto idle = Process::run(helper, {"--idle-seconds", "1.5"}, options);
  EXPECT_EQ(idle.exitStatus, 0) << idle.standardError;
  EXPECT_NE(idle.standardError.find("LinkFerry Helper is installed"), std::string::npos)
      << idle.standardError;
  EXPECT_EQ(idle.standardError.find("App Store"), std::string::npos) << idle.standardError;
}

}  // namespace
}  // namespace linkferry
