#include "preparation/RedirectUnwrapper.h"

#include <initializer_list>
#include <utility>

#include "foundation/Base64.h"
#include "foundation/Text.h"
#include "preparation/HostMatch.h"

namespace linkferry {
namespace {

using HostTest = std::function<bool(std::string_view)>;
using PathTest = std::function<bool(std::string_view)>;

HostTest on(std::string domain) {
  return [domain = std::move(domain)](std::string_view host) {
    return HostMatch::isDomainOrSubdomain(host, domain);
  };
}

HostTest exactly(std::initializer_list<const char*> hosts) {
  std::vector<std::string> list(hosts.begin(), hosts.end());
  return [list = std::move(list)](std::string_view host) {
    for (const std::string& candidate : list)
      if (host == candidate) return true;
    return false;
  };
}

PathTest equalsAny(std::initializer_list<const char*> paths) {
  std::vector<std::string> list(paths.begin(), paths.end());
  return [list = std::move(list)](std::string_view path) {
    for (const std::string& candidate : list)
      if (path == candidate) return true;
    return false;
  };
}

std::vector<RedirectUnwrapper::Wrapper> buildWrappers() {
  using W = RedirectUnwrapper::Wrapper;
  return {
      W{"Safe Links", on("safelinks.protection.outlook.com"), {}, {"url"}, {}},
      W{"Teams Safe Links", exactly({"statics.teams.cdn.office.net"}),
        [](std::string_view path) { return Text::contains(path, "safelink"); }, {"url"}, {}},
      W{"Google", [](std::string_view host) { return RedirectUnwrapper::isGoogle(host); },
        equalsAny({"/url"}), {"q", "url"}, {}},
      W{"Facebook", exactly({"l.facebook.com", "lm.facebook.com", "l.messenger.com"}),
        equalsAny({"/l.php"}), {"u"}, {}},
      W{"Instagram", exactly({"l.instagram.com"}), {}, {"u"}, {}},
      W{"Slack", on("slack-redir.net"), equalsAny({"/link"}), {"url"}, {}},
      W{"LinkedIn", on("linkedin.com"),
        equalsAny({"/redir/redirect", "/redir/redirect/", "/safety/go", "/safety/go/"}), {"url"},
        {}},
      W{"YouTube", on("youtube.com"), equalsAny({"/redirect"}), {"q"}, {}},
      W{"Reddit", exactly({"out.reddit.com"}), {}, {"url"}, {}},
      W{"Steam", exactly({"steamcommunity.com"}),
        [](std::string_view path) { return Text::startsWith(path, "/linkfilter"); },
        {"u", "url"}, {}},
      W{"DuckDuckGo", on("duckduckgo.com"), equalsAny({"/l/", "/l"}), {"uddg"}, {}},
      W{"VK", on("vk.com"), equalsAny({"/away.php"}), {"to"}, {}},
      W{"Bing", on("bing.com"), equalsAny({"/ck/a"}), {"u"},
        [](std::string_view value) { return RedirectUnwrapper::decodeBing(value); }},
  };
}

std::optional<URL> webAddress(std::string_view text) {
  auto url = URL::parse(Text::trimmed(text, Text::TrimSet::whitespaceAndNewlines));
  if (!url) return std::nullopt;
  auto scheme = url->scheme();
  if (!scheme) return std::nullopt;
  std::string lowered = Text::asciiLowercased(*scheme);
  if (lowered != "http" && lowered != "https") return std::nullopt;
  auto host = url->host();
  if (!host || host->empty()) return std::nullopt;
  return url;
}

}  // namespace

const std::vector<RedirectUnwrapper::Wrapper>& RedirectUnwrapper::wrappers() {
  // Never destroyed: a detached expansion may still read it while the program exits.
  static const auto& table = *new std::vector<Wrapper>(buildWrappers());
  return table;
}

RedirectUnwrapper::Unwrapped RedirectUnwrapper::unwrap(const URL& url) {
  Unwrapped result{url, {}};
  while (result.steps.size() < maxDepth) {
    auto step = unwrapOnce(result.url);
    if (!step) break;
    result.url = std::move(step->url);
    result.steps.push_back(std::move(step->wrapper));
  }
  return result;
}

std::optional<RedirectUnwrapper::Step> RedirectUnwrapper::unwrapOnce(const URL& url) {
  auto scheme = url.scheme();
  if (!scheme) return std::nullopt;
  std::string loweredScheme = Text::asciiLowercased(*scheme);
  if (loweredScheme != "http" && loweredScheme != "https") return std::nullopt;
  auto rawHost = url.host();
  if (!rawHost) return std::nullopt;
  const std::string host = Text::lowercased(*rawHost);

  std::optional<std::vector<QueryItem>> items;  // read once, only for a wrapper host
  std::optional<std::string> path;
  for (const Wrapper& wrapper : wrappers()) {
    if (!wrapper.host(host)) continue;
    if (wrapper.path) {
      if (!path) path = url.path();
      if (!wrapper.path(*path)) continue;
    }
    if (!items) items = url.queryItems();
    for (const std::string& param : wrapper.params) {
      const QueryItem* found = nullptr;
      for (const QueryItem& item : *items) {
        if (item.name == param) {
          found = &item;
          break;
        }
      }
      if (!found || !found->value || found->value->empty()) continue;
      std::optional<std::string> value = *found->value;
      if (wrapper.decode) value = wrapper.decode(*value);
      if (!value) continue;
      if (auto destination = httpURL(*value)) return Step{std::move(*destination), wrapper.name};
    }
  }
  return std::nullopt;
}

std::optional<URL> RedirectUnwrapper::httpURL(std::string_view value) {
  if (auto url = webAddress(value)) return url;
  auto decoded = PercentEncoding::decode(value);
  return webAddress(decoded ? std::string_view(*decoded) : value);
}

bool RedirectUnwrapper::isGoogle(std::string_view host) {
  std::vector<std::string_view> labels;
  for (std::string_view label : Text::split(host, '.'))
    if (!label.empty()) labels.push_back(label);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (labels[i] != "google") continue;
    if (i > 1 || (i == 1 && labels[0] != "www")) return false;
    std::size_t fromGoogle = labels.size() - i;
    return fromGoogle == 2 || fromGoogle == 3;
  }
  return false;
}

std::optional<std::string> RedirectUnwrapper::decodeBing(std::string_view value) {
  if (!Text::startsWith(value, "a1")) return std::nullopt;
  std::string text(value.substr(2));
  for (char& c : text) {
    if (c == '-') c = '+';
    else if (c == '_') c = '/';
  }
  while (text.size() % 4 != 0) text += '=';
  auto bytes = Base64::decode(text);
  if (!bytes || !Text::isValidUTF8(*bytes)) return std::nullopt;
  return bytes;
}

}  // namespace linkferry
