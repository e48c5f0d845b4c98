#include "preparation/AppLinks.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace linkferry {
namespace {

const AppLink& entry(std::string_view id) {
  for (const AppLink& link : AppLinks::all()) {
    if (link.id == id) return link;
  }
  throw std::out_of_range(std::string(id));
}

// The app link of `link` for entry `id`, as text; "" when it does not match.
std::string appLink(std::string_view id, std::string_view link) {
  const auto url = URL::parse(link);
  if (!url) return "unparsable";
  const auto result = entry(id).link(*url);
  return result ? result->absoluteString() : "";
}

TEST(AppLinks, TableListsTheTenServicesInOrderWithTheirExamplesMatching) {
  std::vector<std::string> ids;
  for (const AppLink& link : AppLinks::all()) {
    ids.push_back(link.id);
    SCOPED_TRACE(link.id);
    // Every example is a link of its own service, and becomes a link of the declared scheme.
    const auto example = URL::parse(link.example);
    ASSERT_TRUE(example);
    const auto app = link.link(*example);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->scheme(), link.scheme);
    EXPECT_EQ(AppLinks::isEnabled(link, {}), link.id != "1password");
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"zoom", "teams", "figma", "spotify", "apple-music",
                                           "discord", "linear", "notion", "app-store",
                                           "1password"}));
  EXPECT_EQ(AppLinks::allBundleIDs().size(), 11u);
  EXPECT_EQ(AppLinks::allBundleIDs()[1], "com.microsoft.teams2");
  EXPECT_EQ(AppLinks::allBundleIDs()[2], "com.microsoft.teams");
}

TEST(AppLinks, TransformsWebLinksIntoTheAppsLinks) {
  struct Case {
    std::string_view id, link, expected;
  } cases[] = {
      {"zoom", "https://acme.zoom.us/j/85012345678?pwd=abc.1&uname=x&pwd=second",
       "zoommtg://acme.zoom.us/join?action=join&confno=85012345678&pwd=abc.1"},
      {"zoom", "HTTPS://Acme.Zoomgov.com/w/123", "zoommtg://Acme.Zoomgov.com/join?action=join&confno=123"},
      {"zoom", "https://zoom.us/j/123?pwd", "zoommtg://zoom.us/join?action=join&confno=123"},
      {"zoom", "https://zoom.us/j/alice.room", ""},
      {"zoom", "https://notzoom.us/j/123", ""},
      {"zoom", "ftp://zoom.us/j/123", ""},
      {"teams", "https://teams.microsoft.com/l/meetup-join/19%3ameeting/0?context=%7b%7d",
       "msteams:/l/meetup-join/19%3ameeting/0?context=%7b%7d"},
      {"teams", "https://teams.microsoft.com/_#/conversations", ""},
      {"figma", "https://www.figma.com/design/AbC/Name?node-id=1-2",
       "https://www.figma.com/design/AbC/Name?node-id=1-2"},
      {"figma", "https://www.figma.com/community/file/123", ""},
      {"spotify", "https://open.spotify.com/intl-de/track/4uLU6hMCjMI75M1A2tKUQC?si=x",
       "spotify:track:4uLU6hMCjMI75M1A2tKUQC"},
      {"spotify", "https://open.spotify.com/user/bob/playlist/37i9dQZF1DX",
       "spotify:user:bob:playlist:37i9dQZF1DX"},
      {"spotify", "https://open.spotify.com/user/bob/x", "spotify:user:bob"},
      {"spotify", "https://open.spotify.com/intl-fr/track", ""},
      {"spotify", "https://open.spotify.com/genre/x", ""},
      {"apple-music", "https://music.apple.com/us/album/x/123?i=4",
       "music://music.apple.com/us/album/x/123?i=4"},
      {"apple-music", "https://music.apple.com", ""},
      {"discord", "https://canary.discord.com/channels/1/2#x", "discord://-/channels/1/2#x"},
      {"discord", "https://discord.com/invite/abc", ""},
      {"linear", "https://linear.app/acme/issue/ENG-1/title", "linear://acme/issue/ENG-1/title"},
      {"linear", "https://linear.app/acme", ""},
      {"notion", "https://notion.so/Page-1a2b?pvs=4", "notion://www.notion.so/Page-1a2b?pvs=4"},
      {"app-store", "https://apps.apple.com/us/app/things-3/id904280696?mt=12",
       "macappstore://apps.apple.com/us/app/things-3/id904280696?mt=12"},
      {"app-store", "https://apps.apple.com/us/story/id1", ""},
      {"1password", "https://start.1password.com/open/i?a=A&v=V&i=I",
       "onepassword://view-item/i?a=A&v=V&i=I"},
      {"1password", "https://my.1password.com/open/i?a=A", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    EXPECT_EQ(appLink(c.id, c.link), c.expected);
  }
}

TEST(AppLinks, MatchTakesTheFirstEnabledEntryWithAnInstalledApp) {
  const URL meeting = *URL::parse("https://teams.microsoft.com/l/meetup-join/x");
  auto match = AppLinks::match(meeting, {"com.microsoft.teams", "com.microsoft.teams2"}, {});
  ASSERT_TRUE(match);
  EXPECT_EQ(match->bundleID, "com.microsoft.teams2");
  EXPECT_EQ(match->link.id, "teams");
  EXPECT_EQ(match->url.absoluteString(), "msteams:/l/meetup-join/x");

  EXPECT_FALSE(AppLinks::match(meeting, {"us.zoom.xos"}, {})) << "not installed";
  EXPECT_FALSE(AppLinks::match(meeting, {"com.microsoft.teams"}, {{"teams", false}}));
  // On Linux the installed identifiers are desktop identifiers.
  match = AppLinks::match(meeting, {"teams"}, {});
  ASSERT_TRUE(match);
  EXPECT_EQ(match->bundleID, "teams");

  const URL item = *URL::parse("https://start.1password.com/open/i?a=1");
  EXPECT_FALSE(AppLinks::match(item, {"com.1password.1password"}, {}));
  EXPECT_TRUE(AppLinks::match(item, {"com.1password.1password"}, {{"1password", true}}));
}

TEST(AppLinks, LinuxAppsCountOnlyWhenTheirEntryDeclaresTheSchemeHandler) {
  auto desktop = [](std::string id, std::vector<std::string> mimeTypes) {
    return DesktopEntry{id, id, {"/usr/bin/" + id}, std::move(mimeTypes), false, ""};
  };
  EXPECT_EQ(AppLinks::linuxInstalledApps({
                desktop("Zoom", {"application/x-zoom", "X-Scheme-Handler/zoommtg"}),
                desktop("discord", {}),
                desktop("com.discordapp.Discord", {"x-scheme-handler/discord"}),
                desktop("spotify", {"x-scheme-handler/zoommtg"}),
                desktop("firefox-esr", {"x-scheme-handler/https"}),
            }),
            (std::set<std::string>{"Zoom", "com.discordapp.Discord"}));
}

}  // namespace
}  // namespace linkferry
