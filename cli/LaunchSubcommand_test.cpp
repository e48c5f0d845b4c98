// `linkferry launch`, run as the real program against a machine of its own: temporary XDG
// folders whose desktop entries name small recorder programs as browsers.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class LaunchCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    // "chromium" is a well-known desktop identifier, so it is a Chromium-family browser whose
    // profiles are read from ~/.config/chromium.
    m_chromium =
        program("chromium-recorder", "printf '%s\\n' \"$@\" > '" + record().string() + "'");
    entry("chromium", "Chromium", m_chromium + " --class=recorded %U");
    m_folder.write(
        "home/.config/chromium/Local State",
        R"({"profile":{"info_cache":{"Default":{"name":"Me"},"Profile 1":{"name":"Work"}}}})");
    entry("failing", "Failing Browser",
          program("failing", "echo 'profile is locked by another process' >&2; exit 3"));
  }

  std::filesystem::path record() const { return m_folder.path() / "arguments"; }

  std::string program(const std::string& name, const std::string& body) {
    const auto path = m_folder.write("bin/" + name, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path.string();
  }

  void entry(const std::string& id, const std::string& name, const std::string& exec) {
    m_folder.write("data/applications/" + id + ".desktop",
                   "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec +
                       "\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n");
  }

  Process::Result linkferry(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "launch");
    const auto root = m_folder.path();
    Process::Options options;
    options.captureOutput = true;
    options.environment = std::map<std::string, std::string>{
        {"HOME", (root / "home").string()},
        {"PATH", "/usr/bin:/bin"},
        {"XDG_DATA_HOME", (root / "data").string()},
        {"XDG_DATA_DIRS", (root / "none").string()},
        {"XDG_CONFIG_HOME", (root / "config").string()},
        {"LINKFERRY_HOME", (root / "linkferry").string()},
    };
    return Process::run((testing::binaryDirectory() / "cli/linkferry").string(), arguments,
                        options);
  }

  TemporaryDirectory m_folder;
  std::string m_chromium;
};

TEST_F(LaunchCommandLine, DryRunPrintsTheExactCommandLine) {
  const auto result = linkferry({"https://a.test/x?y=1", "--browser", "chromium", "--profile",
                                 "Profile 1", "--private", "--new-window", "--dry-run"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(result.standardOutput, m_chromium +
                                       " --class=recorded '--profile-directory=Profile 1' "
                                       "--incognito --new-window 'https://a.test/x?y=1'\n");
  EXPECT_EQ(result.standardError, "");
  EXPECT_FALSE(std::filesystem::exists(record())) << "a dry run must not run anything";

  // The browser's and the profile's names, as `linkferry browsers` shows them, in any case.
  const auto named = linkferry({"https://a.test/x?y=1", "--browser", "CHROMIUM", "--profile",
                                "work", "--private", "--new-window", "--dry-run"});
  EXPECT_EQ(named.exitStatus, 0) << named.standardError;
  EXPECT_EQ(named.standardOutput, result.standardOutput);
}

TEST_F(LaunchCommandLine, DryRunAsJsonWithWarningsOnStandardError) {
  const auto result = linkferry({"https://a.test/", "--browser", "chromium", "--current-tab",
                                 "--background", "--container", "1", "--dry-run", "--json"});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(result.standardError,
            "linkferry: warning: opening in the background is not available on Linux\n"
            "linkferry: warning: current tab is not available on Linux: opened in a new tab\n"
            "linkferry: warning: containers are a Firefox feature; opening in Chromium without "
            "container 1\n");
  const JsonValue plan = Json::parse(result.standardOutput, "output");
  EXPECT_EQ(plan["executable"], m_chromium);
  EXPECT_EQ(plan["arguments"], JsonValue({"--class=recorded", "https://a.test/"}));
  EXPECT_EQ(plan["warnings"].size(), 3u);
}

TEST_F(LaunchCommandLine, RefusesWhatCannotBeOpened) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  } cases[] = {
      {{"example.test/page", "--browser", "chromium"},
       "linkferry: not a link with a scheme: example.test/page\n"},
      {{"--browser", "chromium", "--", "--incognito"},
       "linkferry: not a link with a scheme: --incognito\n"},
      {{"https://a.test/", "--browser", "nothing"}, "linkferry: unknown browser nothing\n"},
      {{"https://example.com/ --incognito", "--browser", "chromium"},
       "linkferry: white space is not allowed in a link: \"https://example.com/ --incognito\"\n"},
      {{"javascript:alert(1)", "--browser", "chromium"},
       "linkferry: refusing a javascript: link: its text would run as a script or page of its "
       "own, not open a site\n"},
      {{"DATA:text/html,<script>alert(1)</script>", "--browser", "chromium"},
       "linkferry: refusing a data: link: its text would run as a script or page of its own, "
       "not open a site\n"},
      {{"https://a.test/", "--browser", "chromium", "--profile", "Profile 7"},
       "linkferry: unknown profile Profile 7 for chromium\n"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.arguments[0]);
    const auto result = linkferry(test.arguments);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, test.error);
    EXPECT_EQ(result.standardOutput, "");
  }
  const auto both = linkferry(
      {"https://a.test/", "--browser", "chromium", "--new-window", "--current-tab", "--dry-run"});
  EXPECT_EQ(both.exitStatus, 1);
  EXPECT_FALSE(std::filesystem::exists(record()));
}

TEST_F(LaunchCommandLine, LaunchesTheBrowserAndReportsItsFailure) {
  const auto launched =
      linkferry({"https://a.test/$(id);x", "--browser", "chromium", "--profile", "Default"});
  EXPECT_EQ(launched.exitStatus, 0) << launched.standardError;
  EXPECT_EQ(launched.standardOutput, "");
  EXPECT_EQ(readFile(record()),
            "--class=recorded\n--profile-directory=Default\nhttps://a.test/$(id);x\n");

  const auto failed = linkferry({"https://a.test/", "--browser", "failing", "--private"});
  EXPECT_EQ(failed.exitStatus, 2);
  EXPECT_EQ(failed.standardError,
            "linkferry: warning: private mode is not supported for Failing Browser\n"
            "linkferry: exited with status 3: profile is locked by another process\n");

  const auto file = linkferry({"file:///etc/hostname", "--browser", "chromium", "--dry-run"});
  EXPECT_EQ(file.exitStatus, 0);
  EXPECT_EQ(file.standardError,
            "linkferry: warning: this opens a file of this machine, not a web page: "
            "file:///etc/hostname\n");
}

TEST_F(LaunchCommandLine, AFailureIsOneLineUnlessVerbose) {
  const std::string noisy = program(
      "noisy", "printf 'starting\\n[12:34:ERROR:gpu] no GPU\\n\\nprofile in use\\n' >&2; exit 21");
  entry("noisy", "Noisy", noisy + " %u");
  const auto brief = linkferry({"https://a.test/", "--browser", "noisy"});
  EXPECT_EQ(brief.exitStatus, 2);
  EXPECT_EQ(brief.standardError,
            "linkferry: exited with status 21: profile in use (2 more lines with --verbose)\n");
  const auto verbose = linkferry({"https://a.test/", "--browser", "noisy", "--verbose"});
  EXPECT_NE(verbose.standardError.find("[12:34:ERROR:gpu] no GPU\n"), std::string::npos)
      << verbose.standardError;
  EXPECT_NE(verbose.standardError.find("linkferry: exited with status 21: profile in use\n"),
            std::string::npos)
      << verbose.standardError;
}

// Nothing left beside a running browser (the reader of its standard error) may show the link in
// its process title, which every user can read; the browser here replaced its own arguments.
TEST_F(LaunchCommandLine, NoProcessShowsTheLinkInItsTitle) {
  entry("sleeper", "Sleeper", program("sleeper", "exec sleep 3") + " %u");
  const std::string secret = "https://a.test/reset?token=s3cr3t-title-check";
  const auto launched = linkferry({secret, "--browser", "sleeper"});
  ASSERT_EQ(launched.exitStatus, 0) << launched.standardError;
  for (const auto& process : std::filesystem::directory_iterator("/proc")) {
    EXPECT_EQ(readFile(process.path() / "cmdline").find("s3cr3t"), std::string::npos)
        << process.path();
  }
}

}  // namespace
}  // namespace linkferry
