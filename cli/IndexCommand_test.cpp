#include <map>

#include <gtest/gtest.h>

#include "fixtures/BrowserDatabases.h"
#include "foundation/Dates.h"
#include "foundation/Files.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using fixtures::chromiumTime;
using testing::TemporaryDirectory;

// A home folder with Chromium installed (its desktop entry) and two profiles: "Default" with a
// session and history on example.com, "Profile 1" whose History is no database.
class IndexCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    home.write(".local/share/applications/chromium.desktop",
               "[Desktop Entry]\nName=Chromium Web Browser\nExec=/usr/bin/chromium %U\n"
               "MimeType=x-scheme-handler/https;\n");
    home.write(".config/chromium/Local State",
               R"({"profile":{"info_cache":{"Default":{"name":"Personal"},
                   "Profile 1":{"name":"Work"}}}})");
    const double now = Date::now().secondsSince1970;
    fixtures::writeChromiumCookies(chromium() / "Default" / "Cookies",
                                   {{".app.example.com", "sessionid",
                                     chromiumTime(now + 86400 * 365), chromiumTime(now - 60), true},
                                    {"www.example.co.uk", "prefs", 0, chromiumTime(now), false}});
    fixtures::writeChromiumHistory(chromium() / "Default" / "History",
                                   {{"https://app.example.com/a", chromiumTime(1796629939), 2},
                                    {"https://www.example.com/b", chromiumTime(now - 3600), 3}});
    home.write(".config/chromium/Profile 1/History", "plain text, not SQLite\n");
  }

  fs::path chromium() const { return home.path() / ".config" / "chromium"; }

  Process::Result run(const std::vector<std::string>& arguments) {
    Process::Options options;
    options.captureOutput = true;
    options.environment = std::map<std::string, std::string>{
        {"HOME", home.path().string()},
        {"LINKFERRY_HOME", (home.path() / "data").string()},
        {"XDG_DATA_HOME", (home.path() / ".local/share").string()},
        {"XDG_DATA_DIRS", (home.path() / "none").string()},
        {"XDG_CONFIG_HOME", (home.path() / ".config").string()},
        {"TMPDIR", (home.path() / "tmp").string()},
        {"PATH", "/usr/bin:/bin"},
    };
    std::vector<std::string> all = {"index"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Process::run((testing::binaryDirectory() / "cli/linkferry").string(), all, options);
  }

  std::map<std::string, std::string> browserFiles() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(chromium())) {
      if (entry.is_regular_file()) files[entry.path().string()] = Files::read(entry.path());
    }
    return files;
  }

  TemporaryDirectory home;
};

TEST_F(IndexCommand, JsonHasDomainsSessionsHistoryAndIssues) {
  fs::create_directories(home.path() / "tmp");
  const auto before = browserFiles();
  auto result = run({"--json"});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  const JsonValue json = JsonValue::parse(result.standardOutput);

  ASSERT_TRUE(RFC3339::parse(json["builtAt"].get<std::string>()));
  EXPECT_EQ(json["domains"]["example.com"]["sessions"],
            JsonValue::parse(R"([{"target": {"browser": "chromium", "profile": "Default"},
                                  "level": "strong"}])"));
  const JsonValue& history = json["domains"]["example.com"]["history"];
  ASSERT_EQ(history.size(), 1u) << history.dump();
  EXPECT_EQ(history[0]["visits"], 5);
  auto lastVisit = RFC3339::parse(history[0]["lastVisit"].get<std::string>());
  ASSERT_TRUE(lastVisit);
  EXPECT_NEAR(lastVisit->secondsSince1970, Date::now().secondsSince1970 - 3600, 60);
  EXPECT_EQ(json["domains"]["example.co.uk"]["sessions"][0]["level"], "weak");
  EXPECT_EQ(json["issues"], JsonValue::parse(R"([{"target": {"browser": "chromium",
      "profile": "Profile 1"}, "source": "history", "message": "file is not a database"}])"));

  // Nothing of the browser's was written, and no private copy was left behind.
  EXPECT_EQ(browserFiles(), before);
  EXPECT_TRUE(fs::is_empty(home.path() / "tmp"));
}

TEST_F(IndexCommand, DomainOptionNarrowsAHostToItsSite) {
  auto result = run({"--json", "--domain", "WWW.Example.com"});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  const JsonValue json = JsonValue::parse(result.standardOutput);
  ASSERT_EQ(json["domains"].size(), 1u);
  EXPECT_TRUE(json["domains"].contains("example.com"));
  EXPECT_EQ(json["issues"].size(), 1u);  // issues are never filtered away

  auto text = run({"--domain", "example.co.uk"});
  ASSERT_EQ(text.exitStatus, 0) << text.standardError;
  EXPECT_NE(text.standardOutput.find("example.co.uk\n  session  chromium / Default: weak\n"),
            std::string::npos)
      << text.standardOutput;
  EXPECT_EQ(text.standardOutput.find("example.com\n"), std::string::npos) << text.standardOutput;
  EXPECT_NE(text.standardOutput.find("chromium / Profile 1 (history): file is not a database"),
            std::string::npos)
      << text.standardOutput;

  auto link = run({"--json", "--domain", "https://www.example.com/path?q=1"});
  ASSERT_EQ(link.exitStatus, 0) << link.standardError;
  EXPECT_TRUE(JsonValue::parse(link.standardOutput)["domains"].contains("example.com"));
  for (const char* bad : {"not a domain!", "", "a..b", "exa mple.com"}) {
    SCOPED_TRACE(bad);
    auto refused = run({"--domain", bad});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.standardOutput, "");
    EXPECT_NE(refused.standardError.find("linkferry: --domain"), std::string::npos)
        << refused.standardError;
  }
}

}  // namespace
}  // namespace linkferry
