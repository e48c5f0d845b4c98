#include <gtest/gtest.h>

#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

class BrowsersCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    home.write(".local/share/applications/chromium.desktop",
               "[Desktop Entry]\nName=Chromium Web Browser\nExec=/usr/bin/chromium %U\n"
               "MimeType=x-scheme-handler/https;\n");
    home.write(
        ".local/share/applications/org.example.Viewer.desktop",
        "[Desktop Entry]\nName=Viewer\nExec=viewer --tab %u\nMimeType=x-scheme-handler/http;\n");
    home.write(".config/chromium/Local State",
               R"({"profile":{"info_cache":{"Profile 1":{"name":"Work","user_name":"w@example.com",
                  "default_avatar_fill_color":-2627379},"Default":{"name":"Personal"}}}})");
    home.write("ff/profiles.ini", "[Profile0]\nName=main\nIsRelative=1\nPath=main\n");
    home.write(
        "ff/main/containers.json",
        R"({"identities":[{"userContextId":1,"l10nId":"user-context-personal","color":"blue"}]})");
  }

  Process::Result run(const std::vector<std::string>& arguments) {
    Process::Options options;
    options.captureOutput = true;
    options.environment = std::map<std::string, std::string>{
        {"HOME", home.path().string()},
        {"LINKFERRY_HOME", (home.path() / "data").string()},
        {"XDG_DATA_HOME", (home.path() / ".local/share").string()},
        {"XDG_DATA_DIRS", (home.path() / "none").string()},
        {"PATH", "/usr/bin:/bin"},
    };
    std::vector<std::string> all = {"browsers"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Process::run((testing::binaryDirectory() / "cli/linkferry").string(), all, options);
  }

  TemporaryDirectory home;
};

TEST_F(BrowsersCommand, JsonListsDefinitionsProfilesAndContainers) {
  home.write("data/browsers.json",
             R"([{"id":"firefox-custom","name":"Firefox Custom","family":"firefox",
                  "appPath":"/usr/bin/firefox-esr","dataDir":")" +
                 (home.path() / "ff").string() + R"("}])");
  auto result = run({"--json"});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  const JsonValue json = JsonValue::parse(result.standardOutput);
  ASSERT_EQ(json.size(), 3u);

  const JsonValue& chromium = json[0];
  EXPECT_EQ(chromium["id"], "chromium");
  EXPECT_EQ(chromium["family"], "chromium");
  EXPECT_EQ(chromium["appPath"], "/usr/bin/chromium");
  EXPECT_EQ(chromium["dataBlocked"], false);
  ASSERT_EQ(chromium["profiles"].size(), 2u);
  EXPECT_EQ(chromium["profiles"][0]["id"], "Default");
  EXPECT_EQ(chromium["profiles"][0]["email"], nullptr);
  const JsonValue& work = chromium["profiles"][1];
  EXPECT_EQ(work, JsonValue::parse(R"({"id":"Profile 1","name":"Work","path":")" +
                                   (home.path() / ".config/chromium/Profile 1").string() +
                                   R"(","email":"w@example.com","googleAccounts":["w@example.com"],
                                   "avatarPath":null,"avatarColor":4292339917,
                                   "avatarTextColor":null,"containers":[]})"));

  EXPECT_EQ(json[1]["id"], "org.example.Viewer");
  EXPECT_EQ(json[1]["family"], "other");
  EXPECT_EQ(json[1]["launchArguments"], JsonValue::parse(R"(["--tab"])"));
  EXPECT_EQ(json[1]["profiles"], JsonValue::array());

  EXPECT_EQ(json[2]["profiles"][0]["containers"],
            JsonValue::parse(R"([{"id":"1","name":"Personal","color":"blue"}])"));
}

TEST_F(BrowsersCommand, HumanFormIsATable) {
  auto result = run({});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(result.standardOutput.find("ID                  NAME      FAMILY    PROGRAM"),
            std::string::npos)
      << result.standardOutput;
  EXPECT_NE(result.standardOutput.find("Profile 1  Work      w@example.com  -"), std::string::npos)
      << result.standardOutput;
}

TEST_F(BrowsersCommand, MalformedCustomFileIsOneErrorLine) {
  const auto file = home.write("data/browsers.json",
                               R"([{"id":"x","name":"X","family":"webkit","appPath":"/x"}])");
  auto result = run({"--json"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardOutput, "");
  EXPECT_EQ(result.standardError,
            "linkferry: " + file.string() +
                ": [0].family: unknown browser family \"webkit\", expected one "
                "of \"chromium\", \"firefox\", \"safari\", \"other\"\n");

  home.write("data/browsers.json", "[{");
  result = run({});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError.rfind("linkferry: " + file.string() + ": line 1, column ", 0), 0u)
      << result.standardError;
}

}  // namespace
}  // namespace linkferry
