#include "preparation/ShortLinks.h"

#include "foundation/Text.h"

namespace linkferry::ShortLinks {

const std::set<std::string, std::less<>>& hosts() {
  static const auto& table = *new std::set<std::string, std::less<>>{
      "t.co",                                                   // Twitter's link wrapper
      "bit.ly", "bitly.com", "j.mp",                            // Bitly
      "tinyurl.com",                                            // TinyURL
      "lnkd.in",                                                // LinkedIn
      "buff.ly",                                                // Buffer
      "ow.ly",                                                  // Hootsuite
      "goo.gl", "g.co", "forms.gle", "maps.app.goo.gl",         // Google
      "aka.ms", "msft.it", "1drv.ms",                           // Microsoft
      "a.co", "amzn.to",                                        // Amazon
      "fb.me",                                                  // Facebook
      "ift.tt",                                                 // IFTTT
      "spoti.fi",                                               // Spotify
      "apple.co",                                               // Apple
      "hubs.ly", "hubs.la",                                     // HubSpot
      "dlvr.it",                                                // social publishing
      "rebrand.ly", "cutt.ly", "bl.ink", "is.gd", "v.gd", "tiny.cc",  // public shorteners
      "shorturl.at", "rb.gy", "t.ly", "s.id", "snip.ly", "bit.do",
  };
  return table;
}

bool isShortener(const URL& url) {
  auto scheme = url.scheme();
  if (!scheme) return false;
  std::string lowered = Text::asciiLowercased(*scheme);
  if (lowered != "http" && lowered != "https") return false;
  auto host = url.host();
  if (!host) return false;
  std::string name = Text::lowercased(*host);
  std::string_view bare = name;
  if (bare.starts_with("www.")) bare.remove_prefix(4);
  return hosts().contains(bare);
}

std::string shortText(const URL& url) {
  std::string text = url.host().value_or("");
  std::string path = url.path();
  if (path != "/") text += path;
  if (Text::characterCount(text) > 40) return std::string(Text::prefix(text, 39)) + "\u2026";
  return text;
}

}  // namespace linkferry::ShortLinks
