// `linkferry launch --via-helper` with the real helper: nothing of the command stays behind, and
// what the helper says goes to its log beside the socket.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/Process.h"
#include "launching/HelperSocket.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// The processes running `program` whose command line holds `text`.
int processesShowing(const fs::path& program, const std::string& text) {
  int count = 0;
  for (const auto& process : fs::directory_iterator("/proc")) {
    std::error_code error;
    if (fs::read_symlink(process.path() / "exe", error) != program) continue;
    std::ifstream file(process.path() / "cmdline");
    const std::string title(std::istreambuf_iterator<char>(file), {});
    if (title.find(text) != std::string::npos) ++count;
  }
  return count;
}

TEST(ViaHelper, LeavesNoProcessWithTheLinkAndLogsBesideTheSocket) {
  testing::TemporaryDirectory folder;
  const fs::path root = folder.path();
  fs::create_directories(root / "run");
  ::chmod((root / "run").c_str(), 0700);
  const fs::path record = root / "record";
  const fs::path recorder =
      folder.write("bin/recorder", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record.string() + "'\n");
  fs::permissions(recorder, fs::perms::owner_all);
  folder.write("data/applications/recorder.desktop",
               "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + recorder.string() +
                   " %u\nMimeType=x-scheme-handler/https;\n");
  const std::map<std::string, std::string> environment = {
      {"HOME", root.string()},
      {"XDG_DATA_HOME", (root / "data").string()},
      {"XDG_DATA_DIRS", (root / "none").string()},
      {"XDG_CONFIG_HOME", (root / "config").string()},
      {"XDG_RUNTIME_DIR", (root / "run").string()},
      {"PATH", "/usr/bin:/bin"},
      {"LINKFERRY_HELPER_IDLE_SECONDS", "2"},
  };
  const fs::path linkferry = fs::canonical(testing::binaryDirectory() / "cli/linkferry");
  Process::Options options;
  options.environment = environment;
  options.captureOutput = true;
  const std::string link = "https://a.test/reset?token=via-helper-secret";
  const auto result =
      Process::run(linkferry.string(), {"launch", link, "--browser", "recorder", "--via-helper"},
                   options);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_TRUE(eventually([&] { return fs::exists(record); }, 10s));
  EXPECT_EQ(processesShowing(linkferry, "via-helper-secret"), 0);

  const fs::path socket = HelperSocket::path(environment);
  EXPECT_TRUE(fs::exists(socket.parent_path() / "helper.log"));
  EXPECT_TRUE(eventually([&] { return !fs::exists(socket); }, 15s))
      << "the helper did not exit when idle";
}

}  // namespace
}  // namespace linkferry
