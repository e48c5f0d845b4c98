#include "DesktopDoctor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/Json.h"
#include "foundation/Process.h"
#include "rules/RuleSet.h"
#include "settings/DecisionLog.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

namespace fs = std::filesystem;
using DesktopDoctor::Check;
using testing::TemporaryDirectory;

std::vector<std::string> problems(const std::vector<Check>& checks) {
  std::vector<std::string> messages;
  for (const Check& check : checks) {
    EXPECT_EQ(check.name, "log");
    if (!check.ok) {
      messages.push_back(check.message);
      EXPECT_TRUE(check.fix.has_value()) << check.message;
    }
  }
  return messages;
}

TEST(DesktopDoctor, LogChecksPassAHealthyLogAndAFolderNotMadeYet) {
  TemporaryDirectory folder;
  const auto missing = DesktopDoctor::logChecks(folder.path() / "linkferry");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_TRUE(missing[0].ok) << missing[0].message;

  folder.write("linkferry/log.json", "[]");
  folder.write("linkferry/log.json.journal", "");
  folder.write("linkferry/log.json.lock", "");
  const auto healthy = DesktopDoctor::logChecks(folder.path() / "linkferry");
  ASSERT_EQ(healthy.size(), 1u);
  EXPECT_TRUE(healthy[0].ok) << healthy[0].message;
  EXPECT_EQ(healthy[0].message,
            (folder.path() / "linkferry/log.json").string() + " can be read and written");
}

// What the log refuses to read or write (so it keeps its entries in memory and says why), each
// named with its file: a FIFO for the journal, a folder for the lock, a log past the size limit.
TEST(DesktopDoctor, LogChecksNameEachFileTheLogCannotUse) {
  TemporaryDirectory folder;
  const fs::path root = folder.path() / "linkferry";
  fs::create_directories(root / "log.json.lock");
  ASSERT_EQ(::mkfifo((root / "log.json.journal").c_str(), 0600), 0);
  folder.write("linkferry/log.json", "[]");
  fs::resize_file(root / "log.json", DecisionLog::kFileLimit + 1);  // sparse: no disk used

  EXPECT_EQ(problems(DesktopDoctor::logChecks(root)),
            (std::vector<std::string>{
                "cannot read " + (root / "log.json").string() + ": larger than 64 MB",
                "cannot read " + (root / "log.json.journal").string() + ": not a regular file",
                "cannot write " + (root / "log.json.lock").string() + ": not a regular file",
            }));

  // A log exactly at the limit is read.
  fs::resize_file(root / "log.json", DecisionLog::kFileLimit);
  fs::remove(root / "log.json.journal");
  fs::remove(root / "log.json.lock");
  EXPECT_EQ(problems(DesktopDoctor::logChecks(root)), std::vector<std::string>{});
}

// CI runs as root, for whom every folder is writable: the doctor runs as "nobody" there.
TEST(DesktopDoctor, LogChecksReportADataFolderThatCannotBeWritten) {
  TemporaryDirectory folder;
  const fs::path root = folder.path() / "linkferry";
  folder.write("linkferry/log.json", "[]");
  fs::permissions(folder.path(), fs::perms(0755));
  fs::permissions(root, fs::perms(0555));
  const std::string expected =
      "cannot write in " + root.string() + ": Permission denied; the log cannot be saved";
  if (::geteuid() != 0) {
    EXPECT_EQ(problems(DesktopDoctor::logChecks(root)), std::vector<std::string>{expected});
  } else {
    Process::Options options;
    options.captureOutput = true;
    options.environment = {{"HOME", folder.path().string()},
                           {"LINKFERRY_HOME", root.string()},
                           {"XDG_RUNTIME_DIR", folder.path().string()},
                           {"PATH", "/usr/bin:/bin"}};
    const auto doctor =
        Process::run("/usr/bin/setpriv",
                     {"--reuid=65534", "--regid=65534", "--clear-groups",
                      fs::canonical(testing::linkferryProgram()).string(), "doctor", "--json"},
                     options);
    ASSERT_EQ(doctor.exitStatus, 1) << doctor.standardError;
    std::vector<std::string> messages;
    const JsonValue report = JsonValue::parse(doctor.standardOutput);
    for (const JsonValue& check : report["checks"]) {
      if (check["check"] == "log" && !check["ok"].get<bool>()) {
        messages.push_back(check["message"].get<std::string>());
      }
    }
    EXPECT_EQ(messages, std::vector<std::string>{expected}) << doctor.standardOutput;
  }
  fs::permissions(root, fs::perms(0755));
}

// A rule is flagged, by name, for each target this machine does not have or the settings hide
// (also when the rule names the browser and profile as the user sees them);
// a container target's extension is looked for in the profile's handlers.json.
TEST(DesktopDoctor, RuleTargetsMissingOrHiddenAreNamedWithTheirRule) {
  TemporaryDirectory folder;
  BrowserProfile work{.id = "work", .name = "Work", .path = folder.path() / "work"};
  work.containers = {FirefoxContainer{"3", "Banking", "green"}};
  BrowserProfile home{.id = "home", .name = "Home", .path = folder.path() / "home"};
  home.containers = {FirefoxContainer{"1", "Personal", "blue"}};
  BrowserCatalog catalog;
  catalog.browsers = {
      CatalogBrowser{BrowserDefinition{.id = "firefox", .name = "Firefox",
                                       .family = BrowserFamily::firefox, .appPath = "/bin/true"},
                     {work, home}, false},
      CatalogBrowser{BrowserDefinition{.id = "chromium", .name = "Chromium",
                                       .family = BrowserFamily::chromium, .appPath = "/bin/true"},
                     {}, false}};
  const RuleSet rules = RuleSet::decode(R"({"version": 1, "rules": [
      {"name": "Fine", "match": {"host": "a.test"}, "action": {"open": {"browser": "chromium"}}},
      {"name": "Gone", "match": {"host": "b.test"}, "action": {"open": {"browser": "opera"}}},
      {"name": "Hidden", "match": {"host": "c.test"},
       "action": {"prompt": [{"browser": "Firefox", "profile": "Work", "container": "3"}]}}]})",
                                        "rules.json");
  AppSettings settings;
  settings.hiddenTargets = {BrowserTarget{"firefox", "work", std::nullopt, false}};
  std::vector<std::string> messages;
  for (const Check& check : DesktopDoctor::ruleTargetChecks(rules, settings, catalog)) {
    EXPECT_EQ(check.name, "rule targets");
    EXPECT_FALSE(check.ok);
    messages.push_back(check.message);
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[0].starts_with("rule \u201CGone\u201D: browser ")) << messages[0];
  EXPECT_EQ(messages[1], "rule \u201CHidden\u201D: opens in firefox / work, which the settings "
                         "hide (hiddenTargets)");
  EXPECT_EQ(DesktopDoctor::ruleTargetChecks(rules, AppSettings{}, catalog).size(), 1u);

  // What Firefox writes for an extension's protocol handler, in one of the two profiles.
  folder.write("work/handlers.json", R"({"defaultHandlersVersion": {}, "mimeTypes": {},
      "schemes": {"ext+container": {"action": 2, "handlers": [{"name": "Open in container",
      "uriTemplate": "moz-extension://1b2c/opener.html#%s"}]}}})");
  folder.write("home/handlers.json", R"({"schemes": {"mailto": {"handlers": [null]}}})");
  const std::vector<Check> containers = DesktopDoctor::containerChecks(catalog);
  ASSERT_EQ(containers.size(), 2u);
  EXPECT_NE(containers[0].message.find("an extension there opens ext+container: links"),
            std::string::npos)
      << containers[0].message;
  EXPECT_NE(containers[1].message.find("no extension there opens ext+container: links"),
            std::string::npos)
      << containers[1].message;
}

}  // namespace
}  // namespace linkferry
