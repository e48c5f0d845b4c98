#include "preparation/AppLinks.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "foundation/Text.h"
#include "preparation/HostMatch.h"

namespace linkferry {
namespace {

// The facts of a web link that every transform reads.
struct WebLink {
  std::string host;                   // lower-cased
  std::vector<std::string> segments;  // the path's components without "/" ones, decoded
  std::string tail;                   // from the first "?" or "#" of the link to its end
  std::string pathAndTail;            // the percent-encoded path ("/" when empty), then the tail
};

// Nothing unless the scheme is http or https and there is a host.
std::optional<WebLink> webLink(const URL& url) {
  const auto scheme = url.scheme();
  if (!scheme) return std::nullopt;
  const std::string loweredScheme = Text::asciiLowercased(*scheme);
  if (loweredScheme != "http" && loweredScheme != "https") return std::nullopt;
  const auto host = url.host();
  if (!host) return std::nullopt;

  WebLink link;
  link.host = Text::lowercased(*host);
  const std::string path = url.path();
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) link.segments.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  const std::string& text = url.absoluteString();
  const std::size_t tailStart = text.find_first_of("?#");
  if (tailStart != std::string::npos) link.tail = text.substr(tailStart);
  std::string encodedPath = url.percentEncodedPath();
  if (encodedPath.empty()) encodedPath = "/";
  link.pathAndTail = encodedPath + link.tail;
  return link;
}

bool isOneOf(const std::string& value, std::initializer_list<std::string_view> options) {
  return std::find(options.begin(), options.end(), value) != options.end();
}

bool isDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

using WebTransform = std::function<std::optional<URL>(const URL&, const WebLink&)>;

// Wraps a transform so that it sees only web links, taken apart once.
std::function<std::optional<URL>(const URL&)> forWebLinks(WebTransform transform) {
  return [transform = std::move(transform)](const URL& url) -> std::optional<URL> {
    const auto link = webLink(url);
    if (!link) return std::nullopt;
    return transform(url, *link);
  };
}

std::optional<URL> zoom(const URL& url, const WebLink& link) {
  if (!HostMatch::isDomainOrSubdomain(link.host, "zoom.us") && !HostMatch::isDomainOrSubdomain(link.host, "zoomgov.com"))
    return std::nullopt;
  if (link.segments.size() < 2 || !isOneOf(link.segments[0], {"j", "w"}) ||
      !isDigits(link.segments[1])) {
    return std::nullopt;
  }
  URLComponents components;
  components.scheme = "zoommtg";
  components.setHost(*url.host());
  components.setPath("/join");
  std::vector<QueryItem> items = {{"action", "join"}, {"confno", link.segments[1]}};
  for (const QueryItem& item : url.queryItems()) {
    if (item.name != "pwd") continue;
    if (item.value) items.push_back({"pwd", item.value});
    break;
  }
  components.setQueryItems(items);
  return components.url();
}

std::optional<URL> teams(const URL&, const WebLink& link) {
  if (link.host != "teams.microsoft.com" || !link.pathAndTail.starts_with("/l/"))
    return std::nullopt;
  return URL::parse("msteams:" + link.pathAndTail);
}

std::optional<URL> figma(const URL& url, const WebLink& link) {
  if (!isOneOf(link.host, {"figma.com", "www.figma.com"}) || link.segments.empty() ||
      !isOneOf(link.segments[0], {"file", "design", "board", "proto", "slides"})) {
    return std::nullopt;
  }
  return url;
}

std::optional<URL> spotify(const URL&, const WebLink& link) {
  if (link.host != "open.spotify.com") return std::nullopt;
  std::vector<std::string> segments = link.segments;
  if (!segments.empty() && segments[0].starts_with("intl-")) segments.erase(segments.begin());
  if (segments.size() < 2 || !isOneOf(segments[0], {"track", "album", "artist", "playlist", "show",
                                                    "episode", "user", "audiobook"})) {
    return std::nullopt;
  }
  if (segments[0] == "user" && segments.size() > 3 && segments[2] == "playlist") {
    return URL::parse("spotify:user:" + segments[1] + ":playlist:" + segments[3]);
  }
  return URL::parse("spotify:" + segments[0] + ":" + segments[1]);
}

std::optional<URL> appleMusic(const URL&, const WebLink& link) {
  if (link.host != "music.apple.com" || link.segments.empty()) return std::nullopt;
  return URL::parse("music://music.apple.com" + link.pathAndTail);
}

std::optional<URL> discord(const URL&, const WebLink& link) {
  if (!isOneOf(link.host, {"discord.com", "www.discord.com", "discordapp.com", "ptb.discord.com",
                           "canary.discord.com"}) ||
      link.segments.empty() || link.segments[0] != "channels") {
    return std::nullopt;
  }
  return URL::parse("discord://-" + link.pathAndTail);
}

std::optional<URL> linear(const URL&, const WebLink& link) {
  if (link.host != "linear.app" || link.segments.size() < 2) return std::nullopt;
  return URL::parse("linear:/" + link.pathAndTail);
}

std::optional<URL> notion(const URL&, const WebLink& link) {
  if (!isOneOf(link.host, {"notion.so", "www.notion.so"}) || link.segments.empty())
    return std::nullopt;
  return URL::parse("notion://www.notion.so" + link.pathAndTail);
}

std::optional<URL> appStore(const URL&, const WebLink& link) {
  if (link.host != "apps.apple.com" ||
      std::find(link.segments.begin(), link.segments.end(), "app") == link.segments.end()) {
    return std::nullopt;
  }
  return URL::parse("macappstore://apps.apple.com" + link.pathAndTail);
}

std::optional<URL> onePassword(const URL& url, const WebLink& link) {
  constexpr std::string_view kOpen = "/open/";
  const std::string path = url.percentEncodedPath();
  if (link.host != "start.1password.com" || !path.starts_with(kOpen)) return std::nullopt;
  return URL::parse("onepassword://view-item/" + path.substr(kOpen.size()) + link.tail);
}

std::vector<AppLink> makeTable() {
  auto entry = [](std::string id, std::string name, std::vector<std::string> bundleIDs,
                  std::vector<std::string> desktopIDs, std::string scheme, bool on,
                  std::string example, WebTransform transform) {
    return AppLink{std::move(id),         std::move(name),   std::move(bundleIDs),
                   std::move(desktopIDs), std::move(scheme), on,
                   std::move(example),    forWebLinks(std::move(transform))};
  };
  // Linux builds: the vendor's deb/rpm entry first (Zoom's is "Zoom" in current packages and was
  // "zoom" before), then Flathub, then the Snap store's "<snap>_<app>" entries.
  return {
      entry("zoom", "Zoom", {"us.zoom.xos"}, {"Zoom", "zoom", "us.zoom.Zoom", "zoom-client_zoom-client"},
            "zoommtg", true, "https://zoom.us/j/123456789?pwd=…", zoom),
      entry("teams", "Microsoft Teams", {"com.microsoft.teams2", "com.microsoft.teams"},
            {"teams", "teams-insiders", "com.microsoft.Teams", "teams_teams",
             "teams-insiders_teams-insiders"},
            "msteams", true, "https://teams.microsoft.com/l/meetup-join/…", teams),
      entry("figma", "Figma", {"com.figma.Desktop"}, {}, "https", true,
            "https://www.figma.com/design/…", figma),
      entry("spotify", "Spotify", {"com.spotify.client"},
            {"spotify", "com.spotify.Client", "spotify_spotify"}, "spotify", true,
            "https://open.spotify.com/track/…", spotify),
      entry("apple-music", "Apple Music", {"com.apple.Music"}, {}, "music", true,
            "https://music.apple.com/…/album/…", appleMusic),
      entry("discord", "Discord", {"com.hnc.Discord"},
            {"discord", "com.discordapp.Discord", "discord_discord", "discord-ptb",
             "discord-canary", "com.discordapp.DiscordCanary"},
            "discord", true, "https://discord.com/channels/…", discord),
      entry("linear", "Linear", {"com.linear"}, {}, "linear", true,
            "https://linear.app/<team>/issue/…", linear),
      entry("notion", "Notion", {"notion.id"}, {}, "notion", true, "https://www.notion.so/…",
            notion),
      entry("app-store", "App Store", {"com.apple.AppStore"}, {}, "macappstore", true,
            "https://apps.apple.com/app/id…", appStore),
      entry("1password", "1Password", {"com.1password.1password"},
            {"1password", "1password_1password"}, "onepassword", false,
            "https://start.1password.com/open/i?a=…", onePassword),
  };
}

template <class Field>
std::vector<std::string> collect(Field field) {
  std::vector<std::string> all;
  for (const AppLink& link : AppLinks::all()) {
    const auto& ids = link.*field;
    all.insert(all.end(), ids.begin(), ids.end());
  }
  return all;
}

}  // namespace

std::optional<URL> AppLink::link(const URL& url) const {
  if (!transform) return std::nullopt;
  return transform(url);
}

bool AppLink::operator==(const AppLink& other) const {
  return id == other.id && name == other.name && bundleIDs == other.bundleIDs &&
         desktopIDs == other.desktopIDs && scheme == other.scheme &&
         defaultEnabled == other.defaultEnabled && example == other.example;
}

namespace AppLinks {

const std::vector<AppLink>& all() {
  static const auto& table = *new std::vector<AppLink>(makeTable());
  return table;
}

const std::vector<std::string>& allBundleIDs() {
  static const auto& ids = *new std::vector<std::string>(collect(&AppLink::bundleIDs));
  return ids;
}

const std::vector<std::string>& allDesktopIDs() {
  static const auto& ids = *new std::vector<std::string>(collect(&AppLink::desktopIDs));
  return ids;
}

bool isEnabled(const AppLink& link, const std::map<std::string, bool>& overrides) {
  const auto found = overrides.find(link.id);
  return found != overrides.end() ? found->second : link.defaultEnabled;
}

std::optional<Match> match(const URL& url, const std::set<std::string>& installed,
                           const std::map<std::string, bool>& overrides) {
  for (const AppLink& link : all()) {
    if (!isEnabled(link, overrides)) continue;
    const std::string* app = nullptr;
    for (const auto* ids : {&link.bundleIDs, &link.desktopIDs}) {
      for (const std::string& id : *ids) {
        if (installed.contains(id)) {
          app = &id;
          break;
        }
      }
      if (app) break;
    }
    if (!app) continue;
    if (auto appURL = link.link(url)) return Match{link, *app, std::move(*appURL)};
  }
  return std::nullopt;
}

std::set<std::string> linuxInstalledApps(const std::vector<DesktopEntry>& entries) {
  std::set<std::string> installed;
  for (const DesktopEntry& entry : entries) {
    for (const AppLink& link : all()) {
      if (std::find(link.desktopIDs.begin(), link.desktopIDs.end(), entry.id) ==
          link.desktopIDs.end()) {
        continue;
      }
      const std::string handler = "x-scheme-handler/" + link.scheme;
      const bool declares =
          std::any_of(entry.mimeTypes.begin(), entry.mimeTypes.end(), [&](const std::string& type) {
            return Text::asciiLowercased(type) == handler;
          });
      if (declares) installed.insert(entry.id);
    }
  }
  return installed;
}

}  // namespace AppLinks
}  // namespace linkferry
