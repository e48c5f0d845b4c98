// What a click without a terminal tells the user: `linkferry open` run as the desktop runs it (no
// terminal, no display for the picker) against a notification service on a private bus.
#include "DesktopNotifications.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/NotificationServer.h"
#include "foundation/Json.h"
#include "foundation/Process.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::NotificationServer;
using testing::TemporaryDirectory;

class UnattendedClick : public ::testing::Test {
 protected:
  void SetUp() override {
    // The only browser fails to start a window; a rule sends the docs to a browser that is gone.
    const auto broken = folder.write("bin/broken", "#!/bin/sh\necho 'no display' >&2\nexit 1\n");
    std::filesystem::permissions(broken, std::filesystem::perms::owner_all);
    folder.write("data/browsers.json", JsonValue::array({{{"id", "broken"},
                                                          {"name", "Broken"},
                                                          {"family", "chromium"},
                                                          {"appPath", broken.string()}}})
                                           .dump());
    folder.write("data/rules.json", R"({"version": 1, "rules": [{"name": "Docs",
        "match": {"host": "docs.example"}, "action": {"open": {"browser": "gone"}}}]})");
  }

  Process::Result open(const std::string& link, const std::vector<std::string>& flags = {}) const {
    Process::Options options;
    options.captureOutput = true;
    options.environment = {{"HOME", (folder.path() / "home").string()},
                           {"LINKFERRY_HOME", (folder.path() / "data").string()},
                           {"XDG_DATA_HOME", (folder.path() / "share").string()},
                           {"XDG_DATA_DIRS", (folder.path() / "none").string()},
                           {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
                           {"XDG_RUNTIME_DIR", (folder.path() / "run").string()},
                           {"PATH", "/usr/bin:/bin"}};
    for (const auto& [name, value] : notifications.environment()) {
      (*options.environment)[name] = value;
    }
    std::vector<std::string> arguments{"open"};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
    arguments.push_back(link);
    return Process::run((testing::binaryDirectory() / "cli/linkferry").string(), arguments,
                        options);
  }

  TemporaryDirectory folder;
  NotificationServer notifications{folder.path()};
};

TEST_F(UnattendedClick, AFailedLaunchGivesOneNotificationThatAlsoNamesTheSkippedRule) {
  const Process::Result result = open("https://docs.example/<b>");
  EXPECT_EQ(result.exitStatus, 2) << result.standardOutput << result.standardError;
  // Told on the desktop, not on a standard error nobody reads.
  EXPECT_EQ(result.standardError.find("Could not open"), std::string::npos) << result.standardError;
  // The command waited for the notification's answer before it exited: nothing is on its way.
  const auto notices = notifications.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].appName, "LinkFerry");
  EXPECT_EQ(notices[0].summary, "Could not open the link");
  EXPECT_EQ(notices[0].body,
            "https://docs.example/%3Cb%3E\n"
            "Could not open the link: Broken: exited with status 1: no display\n"
            "Rule \xE2\x80\x9C"
            "Docs\xE2\x80\x9D was skipped: its browser gone is not on this "
            "machine");
}

TEST_F(UnattendedClick, ThePickerSaysWhichRuleWasSkippedAndWhy) {
  // A script's request: nothing opened, nothing to notify.
  const Process::Result result = open("https://docs.example/", {"--json"});
  EXPECT_EQ(result.exitStatus, 3) << result.standardError;
  EXPECT_EQ(JsonValue::parse(result.standardOutput)[0]["picker"]["note"],
            "Rule \xE2\x80\x9C"
            "Docs\xE2\x80\x9D was skipped: its browser gone is not on this "
            "machine");
  EXPECT_TRUE(notifications.notices().empty());
}

TEST_F(UnattendedClick, TheSettingTurnsNotificationsOff) {
  folder.write("data/settings.json", R"({"desktopNotifications": false})");
  const Process::Result result = open("https://docs.example/");
  EXPECT_EQ(result.exitStatus, 2) << result.standardOutput << result.standardError;
  EXPECT_TRUE(notifications.notices().empty());
}

TEST(DesktopNotifications, MarkupInTheBodyIsSentAsText) {
  EXPECT_EQ(DesktopNotifications::escapedBody("<a href='x'>&amp;</a>"),
            "&lt;a href='x'&gt;&amp;amp;&lt;/a&gt;");
  EXPECT_EQ(DesktopNotifications::sessionBusAddress({{"XDG_RUNTIME_DIR", "/run/user/7"}}),
            "unix:path=/run/user/7/bus");
  EXPECT_EQ(DesktopNotifications::sessionBusAddress({}), "");
}

}  // namespace
}  // namespace linkferry
