#include "launching/LaunchEnvironment.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "launching/DetachedLaunchRunner.h"
#include "launching/LaunchPlan.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryDirectory;

TEST(LaunchEnvironment, LaunchedProgramLosesTheClickersIdentityAndKeepsFocusTokens) {
  TemporaryDirectory folder;
  const auto output = folder.path() / "env.txt";
  ScopedEnvironment chrome("CHROME_DESKTOP", "slack.desktop");
  ScopedEnvironment gio("GIO_LAUNCHED_DESKTOP_FILE", "/usr/share/applications/slack.desktop");
  ScopedEnvironment gioPid("GIO_LAUNCHED_DESKTOP_FILE_PID", "4242");
  ScopedEnvironment bamf("BAMF_DESKTOP_FILE_HINT", "/usr/share/applications/slack.desktop");
  ScopedEnvironment token("XDG_ACTIVATION_TOKEN", "token-1");
  ScopedEnvironment startup("DESKTOP_STARTUP_ID", "startup-1");
  ScopedEnvironment other("LINKFERRY_TEST_KEPT", "yes");

  LaunchPlan plan;
  plan.executable = "/bin/sh";
  plan.arguments = {"-c", "env > '" + output.string() + "'"};
  DetachedLaunchRunner(std::chrono::milliseconds(5000)).run(plan);

  std::ifstream file(output);
  std::stringstream text;
  text << file.rdbuf();
  const std::string seen = "\n" + text.str();
  for (const char* gone : {"CHROME_DESKTOP=", "GIO_LAUNCHED_DESKTOP_FILE=",
                           "GIO_LAUNCHED_DESKTOP_FILE_PID=", "BAMF_DESKTOP_FILE_HINT="}) {
    EXPECT_EQ(seen.find(std::string("\n") + gone), std::string::npos) << gone;
  }
  for (const char* kept : {"XDG_ACTIVATION_TOKEN=token-1", "DESKTOP_STARTUP_ID=startup-1",
                           "LINKFERRY_TEST_KEPT=yes"}) {
    EXPECT_NE(seen.find(std::string("\n") + kept + "\n"), std::string::npos) << kept;
  }
}

TEST(LaunchEnvironment, FocusTokensOfTheClickReplaceThoseOfTheRouter) {
  const LaunchEnvironment::Environment service = {
      {"PATH", "/usr/bin"}, {"XDG_ACTIVATION_TOKEN", "stale"}, {"DESKTOP_STARTUP_ID", "stale"}};
  const LaunchEnvironment::Environment click = {{"XDG_ACTIVATION_TOKEN", "fresh"},
                                                {"CHROME_DESKTOP", "slack.desktop"}};
  EXPECT_EQ(LaunchEnvironment::forChild(service, click),
            (LaunchEnvironment::Environment{{"PATH", "/usr/bin"},
                                            {"XDG_ACTIVATION_TOKEN", "fresh"}}));
}

}  // namespace
}  // namespace linkferry
