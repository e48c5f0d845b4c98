#include "browsers/ProfileScanner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "browsers/ProfileAvatar.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;

std::vector<std::string> ids(const std::vector<BrowserProfile>& profiles) {
  std::vector<std::string> result;
  for (const auto& profile : profiles) result.push_back(profile.id);
  return result;
}

TEST(ProfileScannerChromium, OrdersDefaultThenNumberedProfilesThenTheRest) {
  TemporaryDirectory data;
  data.write("Local State", R"({"profile":{"info_cache":{
      "Profile 10":{}, "Guest Profile":{}, "Default":{}, "Profile 2":{}, "Profile x":{},
      "../escape":{}, "":{}, "a/b":{}}}})");
  EXPECT_EQ(ids(ProfileScanner::chromium(data.path())),
            (std::vector<std::string>{"Default", "Profile 2", "Profile 10", "Guest Profile",
                                      "Profile x"}));
}

TEST(ProfileScannerChromium, ReadsNamesAccountsColoursAndPicture) {
  TemporaryDirectory data;
  data.write("Local State", R"({"profile":{"info_cache":{
      "Default":{"name":"Personal","user_name":"Me@Example.com",
                 "default_avatar_fill_color":-2890755,"default_avatar_stroke_color":-16166200,
                 "gaia_picture_file_name":"../Default/x.png"},
      "Profile 1":{"name":7,"user_name":"","default_avatar_fill_color":true,
                   "profile_highlight_color":-2627379,"gaia_picture_file_name":"pic.png"},
      "Profile 2":"not an object"}}})");
  data.write("Default/Preferences", R"({"account_info":[{"email":" me@example.com\t"},
      {"email":"other@example.com"},{"email":"no-at-sign"},{"email":5},"junk",
      {"email":"OTHER@example.com"}]})");
  data.write("Default/Google Profile Picture.png", "png");
  data.write("Profile 1/pic.png", "png");
  data.write("Profile 2/Preferences", R"({"account_info":[{"email":"two@example.com"}]})");

  auto profiles = ProfileScanner::chromium(data.path());
  ASSERT_EQ(profiles.size(), 3u);

  const BrowserProfile& personal = profiles[0];
  EXPECT_EQ(personal.name, "Personal");
  EXPECT_EQ(personal.path, data.path() / "Default");
  EXPECT_EQ(personal.email, "Me@Example.com");
  EXPECT_EQ(personal.googleAccounts,
            (std::vector<std::string>{"Me@Example.com", "other@example.com"}));
  EXPECT_EQ(personal.avatarColor, 0xFFD3E3FDu);
  EXPECT_EQ(personal.avatarTextColor, 0xFF0952C8u);
  // The named picture holds "/", so the standard file name is used.
  EXPECT_EQ(personal.avatarPath, (data.path() / "Default/Google Profile Picture.png").string());

  const BrowserProfile& second = profiles[1];
  EXPECT_EQ(second.name, "Profile 1");  // a name that is not a string falls back to the key
  EXPECT_EQ(second.email, std::nullopt);
  EXPECT_EQ(second.avatarColor, 0xFFD7E8CDu);  // boolean fill ignored, highlight used
  EXPECT_EQ(second.avatarTextColor, std::nullopt);
  EXPECT_EQ(second.avatarPath, (data.path() / "Profile 1/pic.png").string());

  const BrowserProfile& third = profiles[2];
  EXPECT_EQ(third.name, "Profile 2");
  EXPECT_EQ(third.googleAccounts, (std::vector<std::string>{"two@example.com"}));
  EXPECT_TRUE(third.containers.empty());
}

TEST(ProfileScannerChromium, BrokenLocalStateGivesNoProfiles) {
  const std::string cases[] = {
      "",
      R"({"profile":{"info_cache":{"Default":{})",      // truncated
      "{\"profile\":{\"info_cache\":{\"D\xFF\":{}}}}",  // not UTF-8
      R"({"profile":{"info_cache":[]}})",
      R"({"profile":"x"})",
      R"([1,2])",
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    TemporaryDirectory data;
    data.write("Local State", text);
    EXPECT_TRUE(ProfileScanner::chromium(data.path()).empty());
  }
  EXPECT_TRUE(ProfileScanner::chromium("/nonexistent/linkferry").empty());
}

TEST(ProfileScannerFirefox, ReadsProfileSectionsOnly) {
  TemporaryDirectory data;
  data.write("profiles.ini",
             "[Install3B6073811A6ABF12]\r\nDefault=abc.default\r\n"
             "[Profile1]\r\nName=work\r\nIsRelative=0\r\nPath=/elsewhere/work\r\n"
             "[Profile0]\nName=personal\nIsRelative=1\nPath=abc.personal\nDefault=1\n"
             "[Profile2]\nName=no-path\n"
             "[Profile3]\nName=relative-but-not-marked\nPath=dangling\n"
             "[General]\nStartWithLastProfile=1\n");
  auto profiles = ProfileScanner::firefox(data.path());
  ASSERT_EQ(profiles.size(), 2u);
  EXPECT_EQ(profiles[0].id, "work");
  EXPECT_EQ(profiles[0].path, fs::path("/elsewhere/work"));
  EXPECT_EQ(profiles[1].name, "personal");
  EXPECT_EQ(profiles[1].path, data.path() / "abc.personal");
  EXPECT_EQ(profiles[1].avatarColor, ProfileAvatar::stableColor("personal"));

  TemporaryDirectory invalid;
  invalid.write("profiles.ini", "[Profile0]\nName=caf\xE9\nIsRelative=1\nPath=x\n");
  EXPECT_TRUE(ProfileScanner::firefox(invalid.path()).empty());
}

TEST(ProfileScannerFirefox, ContainersFromBothSpellingsOfTheL10nKey) {
  TemporaryDirectory profile;
  profile.write("containers.json", R"({"identities":[
      {"userContextId":1,"l10nId":"user-context-personal","color":"blue","public":true},
      {"userContextId":2,"l10nID":"user-context-work","color":""},
      {"userContextId":5,"public":false,"name":"userContextIdInternal.thumbnail"},
      {"userContextId":6,"name":"Client A","color":"orange","public":1},
      {"userContextId":7},
      {"userContextId":"8","name":"string id"},
      {"userContextId":9.5,"name":"fraction"},
      {"userContextId":4294967295,"name":"big","public":true}]})");
  auto containers = ProfileScanner::containers(profile.path());
  std::vector<FirefoxContainer> expected = {
      {"1", "Personal", "blue"},           {"2", "Work", std::nullopt},
      {"6", "Client A", "orange"},         {"7", "Container 7", std::nullopt},
      {"4294967295", "big", std::nullopt},
  };
  EXPECT_EQ(containers, expected);
}

TEST(ProfileScannerFirefox, ContainersWithWrongTypesGiveNone) {
  const char* cases[] = {
      R"({"identities":{"userContextId":1}})",
      R"({"identities":[{"userContextId":1,"name":"ok"},"not an object"]})",
      R"({"identities":null})",
      R"([])",
      R"({"identities":[{"userContextId":1,"name":"cut)",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    TemporaryDirectory profile;
    profile.write("containers.json", text);
    EXPECT_TRUE(ProfileScanner::containers(profile.path()).empty());
  }
}

// Runs discovery of one data folder as the unprivileged user "nobody", because root (as in CI)
// reads every file whatever its mode. Returns the probe's output, or nothing when it cannot run.
std::optional<std::string> probeAsNobody(const char* family, const fs::path& dataDir,
                                         std::string& whyNot) {
  if (geteuid() != 0) {
    whyNot = "needs root to switch to an unprivileged user with setpriv";
    return std::nullopt;
  }
  if (!fs::exists("/usr/bin/setpriv")) {
    whyNot = "setpriv is not installed";
    return std::nullopt;
  }
  Process::Options options;
  options.captureOutput = true;
  auto result = Process::run("/usr/bin/setpriv",
                             {"--reuid=65534", "--regid=65534", "--clear-groups",
                              LINKFERRY_BROWSERS_PROBE, family, dataDir.string()},
                             options);
  if (result.exitStatus != 0) {
    whyNot = "the probe failed: " + result.standardError;
    return std::nullopt;
  }
  return result.standardOutput;
}

TEST(ProfileScannerBlocked, OnlyPermissionFailuresBlockData) {
  TemporaryDirectory root;
  fs::permissions(root.path(),
                  fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
  auto folder = [&](const char* name, fs::perms mode) {
    fs::path dir = root.path() / name;
    fs::create_directories(dir);
    fs::permissions(dir, mode);
    return dir;
  };
  const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                    fs::perms::others_read | fs::perms::others_exec;
  const fs::path unreadableFile = folder("unreadable-file", open);
  root.write("unreadable-file/Local State", R"({"profile":{"info_cache":{"Default":{}}}})");
  fs::permissions(unreadableFile / "Local State", fs::perms::owner_read | fs::perms::owner_write);
  const fs::path closedFolder = folder("closed-folder", fs::perms::owner_all);
  root.write("closed-folder/profiles.ini", "[Profile0]\nName=a\nPath=a\nIsRelative=1\n");
  const fs::path readable = folder("readable", open);
  root.write("readable/Local State", R"({"profile":{"info_cache":{"Default":{}}}})");
  fs::permissions(readable / "Local State", fs::perms::owner_all | fs::perms::others_read);
  const fs::path broken = folder("broken", open);
  root.write("broken/Local State", "{");
  fs::permissions(broken / "Local State", fs::perms::owner_all | fs::perms::others_read);
  const fs::path empty = folder("empty", open);

  const struct {
    const char* family;
    fs::path dataDir;
    const char* expected;
  } cases[] = {
      {"chromium", unreadableFile, "blocked 1 profiles 0\n"},
      {"firefox", closedFolder, "blocked 1 profiles 0\n"},
      {"chromium", readable, "blocked 0 profiles 1\n"},
      {"chromium", broken, "blocked 0 profiles 0\n"},  // readable but malformed: not blocked
      {"firefox", empty, "blocked 0 profiles 0\n"},    // no index file
      {"other", unreadableFile, "blocked 0 profiles 0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dataDir.filename().string() + " " + c.family);
    std::string whyNot;
    auto output = probeAsNobody(c.family, c.dataDir, whyNot);
    if (!output) GTEST_SKIP() << whyNot;
    EXPECT_EQ(*output, c.expected);
  }
}

TEST(ProfileScannerBlocked, DefinitionsWithoutDataOrOfOtherFamiliesAreNeverBlocked) {
  EXPECT_FALSE(ProfileScanner::isDataBlocked(
      BrowserDefinition{"x", "X", BrowserFamily::chromium, "/x", std::nullopt, false, {}}));
  EXPECT_FALSE(ProfileScanner::isDataBlocked(
      BrowserDefinition{"x", "X", BrowserFamily::firefox, "/x", "/nonexistent", false, {}}));
}

}  // namespace
}  // namespace linkferry
