// `linkferry open` handing a link to the real Chromium of this machine through its real desktop
// entry (/usr/share/applications/chromium.desktop, whose Exec is Debian's /usr/bin/chromium
// launcher), inside private namespaces with a page server on loopback.
//
// Chromium runs headless without touching the entry or the plan: the launcher sources every file
// of /etc/chromium.d for its flags, and this test mounts its own copy of that folder, with one
// file added, over the real one in its private mount namespace. (CHROMIUM_FLAGS from the
// environment cannot serve: the launcher clears it before sourcing those files.)
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fixtures/PrivateNamespace.h"
#include "fixtures/StoredLog.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using testing::TemporaryDirectory;

constexpr const char* kEntry = "/usr/share/applications/chromium.desktop";
constexpr const char* kFlagsFolder = "/etc/chromium.d";

// The launcher's flag files with one more that makes this run headless and quiet.
void mountHeadlessFlags(const TemporaryDirectory& folder) {
  const auto flags = folder.path() / "chromium.d";
  std::filesystem::create_directories(flags);
  for (const auto& file : std::filesystem::directory_iterator(kFlagsFolder)) {
    if (file.is_regular_file())
      std::filesystem::copy_file(file.path(), flags / file.path().filename());
  }
  folder.write("chromium.d/zz-headless-test",
               "export CHROMIUM_FLAGS=\"$CHROMIUM_FLAGS --headless=new --no-sandbox --disable-gpu "
               "--no-first-run --disable-background-networking --disable-component-update "
               "--disable-sync --password-store=basic\"\n");
  if (::mount(flags.c_str(), kFlagsFolder, nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot mount the test's flags over " << kFlagsFolder << ": "
                 << std::strerror(errno);
  }
}

TEST(RealChromiumOpen, OpensTheLinkThroughTheDesktopEntryAndThePageIsRequested) {
  if (!std::filesystem::exists(kEntry) || !std::filesystem::is_directory(kFlagsFolder)) {
    GTEST_SKIP() << "Debian's chromium package is not installed";
  }
  if (!testing::insidePrivateNamespace()) {
    testing::rerunInPrivateNamespace();
    return;
  }
  ASSERT_TRUE(testing::loopbackUp());
  TemporaryDirectory folder;
  mountHeadlessFlags(folder);
  if (::testing::Test::IsSkipped()) return;
  testing::OneRequestServer server;
  folder.write("data/rules.json", R"({"version": 1, "rules": [{"name": "Local pages",
      "match": {"host": "localhost"}, "action": {"open": {"browser": "chromium"}}}]})");

  Process::Options options;
  options.captureOutput = true;
  options.environment = {{"HOME", (folder.path() / "home").string()},
                         {"LINKFERRY_HOME", (folder.path() / "data").string()},
                         {"XDG_CONFIG_HOME", (folder.path() / "home/.config").string()},
                         {"XDG_DATA_HOME", (folder.path() / "home/.local/share").string()},
                         {"XDG_DATA_DIRS", "/usr/share"},
                         {"PATH", "/usr/bin:/bin"}};
  const std::string link =
      "http://localhost:" + std::to_string(server.port()) + "/opened-by-linkferry?via=entry";
  const std::string linkferry = testing::linkferryProgram().string();

  // The plan is the entry's own program with the link, nothing added.
  const auto tested = Process::run(linkferry, {"test", "--json", link}, options);
  ASSERT_EQ(tested.exitStatus, 0) << tested.standardError;
  EXPECT_EQ(JsonValue::parse(tested.standardOutput)["plan"]["executable"], "/usr/bin/chromium");

  const auto opened = Process::run(linkferry, {"open", "--json", link}, options);
  const auto request = server.requestLine(30s);
  testing::stopEveryOtherProcess();
  EXPECT_EQ(opened.exitStatus, 0) << opened.standardError << opened.standardOutput;
  ASSERT_TRUE(request) << "Chromium never asked for the page";
  EXPECT_EQ(*request, "GET /opened-by-linkferry?via=entry HTTP/1.1");

  const JsonValue entry = testing::storedLog(folder.path() / "data/log.json")[0];
  EXPECT_EQ(entry["status"], "routed");
  EXPECT_EQ(entry["target"]["browser"], "chromium");
}

}  // namespace
}  // namespace linkferry
