#include "settings/LinkferryPaths.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

TEST(LinkferryPaths, DataFolderFollowsTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> environment;
    const char* expected;
  };
  const Case cases[] = {
      {{}, "/home/ann/.config/linkferry"},
      {{{"XDG_CONFIG_HOME", "/xdg"}}, "/xdg/linkferry"},
      {{{"XDG_CONFIG_HOME", "relative/config"}}, "/home/ann/.config/linkferry"},
      {{{"XDG_CONFIG_HOME", ""}}, "/home/ann/.config/linkferry"},
      {{{"LINKFERRY_HOME", "/data/lf"}, {"XDG_CONFIG_HOME", "/xdg"}}, "/data/lf"},
      {{{"LINKFERRY_HOME", "~/lf"}}, "/home/ann/lf"},
      {{{"LINKFERRY_HOME", ""}, {"XDG_CONFIG_HOME", "/xdg"}}, "/xdg/linkferry"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.expected);
    EXPECT_EQ(LinkferryPaths::defaultPaths(test.environment, "/home/ann").root, test.expected);
  }
}

TEST(LinkferryPaths, FilesLiveInTheDataFolder) {
  LinkferryPaths paths("/d");
  EXPECT_EQ(paths.rules(), "/d/rules.json");
  EXPECT_EQ(paths.customBrowsers(), "/d/browsers.json");
  EXPECT_EQ(paths.settings(), "/d/settings.json");
  EXPECT_EQ(paths.log(), "/d/log.json");
  EXPECT_EQ(paths.linkTypes(), "/d/link-types.json");
  EXPECT_EQ(paths.mailRoutes(), "/d/mail-routes.json");
  EXPECT_EQ(paths.popularity(), "/d/tranco-domains.txt");
}

}  // namespace
}  // namespace linkferry
