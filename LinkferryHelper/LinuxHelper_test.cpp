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
  std::map<std::string, std::string> environment;
  std::filesystem::path socket;

  void SetUp() override {
    const auto root = folder.path();
    for (const char* sub : {"home", "data/applications", "sys", "config/linkferry", "run", "bin"}) {
      std::filesystem::create_directories(root / sub);
    }
    ::chmod((root / "run").c_str(), 0700);
    // The recorder is the test's stand-in browser; a shell script is fine here, the helper
    // itself never uses a shell.
    const auto recorder = folder.write(
        "bin/recorder", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record.string() + "'\n");
    ::chmod(recorder.c_str(), 0755);
    folder.write("data/applications/recorder.desktop",
                 "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + recorder.string() +
                     " --from-entry %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
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
        {"LINKFERRY_HELPER_IDLE_SECONDS", "4"},
    };
    socket = HelperSocket::path(environment);
  }

  void TearDown() override {
    // The helper leaves by itself when idle; the test waits so that nothing outlives it.
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(socket); }, 15s))
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
  ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(record); }, 10s));
  EXPECT_EQ(readFile(record), "--from-entry\nhttps://a.test/page?x=1\n");
  EXPECT_TRUE(std::filesystem::exists(socket));

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

  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(std::filesystem::exists(record));
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

TEST(LinuxHelperFront, OversizedAndUnterminatedRequestsCarryNothing) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::thread writer([&] {
    const std::string big(HelperSocket::kMaxRequest + 10, 'a');
    (void)::write(pair[1], big.data(), big.size());
    (void)::write(pair[1], "\n", 1);
    ::close(pair[1]);
  });
  const auto request = LinuxHelper::readRequest(pair[0], 5s);
  writer.join();
  EXPECT_FALSE(request->directObject().has_value());
  EXPECT_EQ(request->sender().userID, ::getuid());

  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  (void)::write(pair[1], "https://a.test", 14);
  ::close(pair[1]);
  EXPECT_FALSE(LinuxHelper::readRequest(pair[0], 5s)->directObject().has_value());
}

}  // namespace
}  // namespace linkferry
