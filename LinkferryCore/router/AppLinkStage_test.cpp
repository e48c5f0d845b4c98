#include "router/AppLinkStage.h"

#include <gtest/gtest.h>

#include "browsers/DesktopEntries.h"
#include "launching/LaunchCommand.h"
#include "preparation/AppLinks.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

RoutingContext context(std::set<std::string> installed) {
  const std::optional<std::string> unknown;
  RoutingContext context(unknown, unknown, {}, Date{1'796'000'000}, Calendar::current());
  context.installedApps = std::move(installed);
  return context;
}

StageResult evaluate(std::string_view link, std::set<std::string> installed,
                     std::map<std::string, bool> overrides = {}) {
  return AppLinkStage(std::move(overrides))
      .evaluate(LinkRequest(*URL::parse(link), Date{1'796'000'000}), context(std::move(installed)));
}

TEST(AppLinkStage, DecidesForTheAppsOwnLinkOrAbstains) {
  EXPECT_EQ(evaluate("https://open.spotify.com/track/abc", {"com.spotify.client"}),
            StageResult::decided(
                RouteTarget::openLink(*URL::parse("spotify:track:abc"), "com.spotify.client"),
                Reason{"app-links", "opens in the Spotify app"}));
  // A later entry still matches when an earlier one's app is missing.
  EXPECT_EQ(evaluate("https://discord.com/channels/1/2", {"com.spotify.client", "com.hnc.Discord"}),
            StageResult::decided(
                RouteTarget::openLink(*URL::parse("discord://-/channels/1/2"), "com.hnc.Discord"),
                Reason{"app-links", "opens in the Discord app"}));
  EXPECT_EQ(evaluate("https://open.spotify.com/track/abc", {}), StageResult::abstain("no app link"));
  EXPECT_EQ(evaluate("https://open.spotify.com/track/abc", {"com.spotify.client"},
                     {{"spotify", false}}),
            StageResult::abstain("no app link"));
}

// On Linux: the desktop entries of this machine, their scheme handlers, the stage and the plan.
TEST(AppLinkStage, OnLinuxOpensTheSchemeLinkThroughTheEntryThatDeclaresIt) {
  testing::TemporaryDirectory home;
  home.write("applications/spotify.desktop",
             "[Desktop Entry]\nType=Application\nName=Spotify\nExec=spotify %U\n"
             "MimeType=x-scheme-handler/spotify;\n");
  // The deb's entry declares no handler: started through it, Discord would never see the link.
  home.write("applications/discord.desktop",
             "[Desktop Entry]\nType=Application\nName=Discord\nExec=/usr/bin/discord\n");
  home.write("applications/com.discordapp.Discord.desktop",
             "[Desktop Entry]\nType=Application\nName=Discord\nExec=/usr/bin/flatpak run "
             "com.discordapp.Discord @@u %U @@\nMimeType=x-scheme-handler/discord;\n");
  const auto entries = DesktopEntries::load({home.path() / "applications"});
  const auto installed = AppLinks::linuxInstalledApps(entries);
  EXPECT_EQ(installed, (std::set<std::string>{"spotify", "com.discordapp.Discord"}));

  struct Case {
    std::string_view link;
    std::vector<std::string> arguments;
  } cases[] = {
      {"https://open.spotify.com/album/xyz?si=1", {"gtk-launch", "spotify", "spotify:album:xyz"}},
      {"https://discord.com/channels/1/2",
       {"gtk-launch", "com.discordapp.Discord", "discord://-/channels/1/2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    const StageResult result = evaluate(c.link, installed);
    ASSERT_TRUE(result.asDecided());
    const auto plan = LaunchCommand::plan(result.asDecided()->target, *URL::parse(c.link),
                                          BrowserCatalog{}, OpenOptions{}, LaunchPlatform::linux);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->executable, "/usr/bin/env");
    EXPECT_EQ(plan->arguments, c.arguments);
  }
}

}  // namespace
}  // namespace linkferry
