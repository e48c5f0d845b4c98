#include "preparation/RedirectUnwrapper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Base64.h"

namespace linkferry {
namespace {

URL link(const std::string& text) {
  auto url = URL::parse(text);
  EXPECT_TRUE(url) << text;
  return url.value_or(*URL::parse("invalid:"));
}

// The destination and the wrapper names, or the link itself when nothing was peeled.
std::pair<std::string, std::vector<std::string>> unwrapped(const std::string& text) {
  auto result = RedirectUnwrapper::unwrap(link(text));
  return {result.url.absoluteString(), result.steps};
}

using Steps = std::vector<std::string>;

TEST(RedirectUnwrapper, PeelsEachKnownWrapper) {
  const std::string target = "https://example.org/a?b=1";
  const std::string encoded = "https%3A%2F%2Fexample.org%2Fa%3Fb%3D1";
  const std::string bing =
      "a1" + Base64::encodeURLUnpadded(target);  // URL-safe alphabet, no padding
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"https://eur01.safelinks.protection.outlook.com/?url=" + encoded + "&data=x", "Safe Links"},
      {"https://statics.teams.cdn.office.net/evergreen-assets/safelinks/1/atp-safelinks.html?url=" +
           encoded,
       "Teams Safe Links"},
      {"https://www.google.co.uk/url?sa=t&q=" + encoded, "Google"},
      {"https://l.facebook.com/l.php?u=" + encoded + "&h=AT0", "Facebook"},
      {"https://l.messenger.com/l.php?u=" + encoded, "Facebook"},
      {"https://l.instagram.com/?u=" + encoded, "Instagram"},
      {"https://slack-redir.net/link?url=" + encoded, "Slack"},
      {"https://www.linkedin.com/safety/go/?url=" + encoded, "LinkedIn"},
      {"https://www.youtube.com/redirect?event=x&q=" + encoded, "YouTube"},
      {"https://out.reddit.com/t3_x?url=" + encoded, "Reddit"},
      {"https://steamcommunity.com/linkfilter/?u=" + encoded, "Steam"},
      {"https://duckduckgo.com/l/?uddg=" + encoded + "&rut=1", "DuckDuckGo"},
      {"https://vk.com/away.php?to=" + encoded, "VK"},
      {"https://www.bing.com/ck/a?!&&p=1&u=" + bing + "&ntb=1", "Bing"},
  };
  for (const auto& [wrapper, name] : cases) {
    SCOPED_TRACE(wrapper);
    EXPECT_EQ(unwrapped(wrapper), std::make_pair(target, Steps{name}));
  }
}

TEST(RedirectUnwrapper, LeavesLinksThatAreNoWrapperAlone) {
  for (const std::string text : {
           "https://www.facebook.com/l.php?u=https%3A%2F%2Fexample.org",  // not the link shim
           "https://l.facebook.com/groups?u=https%3A%2F%2Fexample.org",   // another page
           "https://images.google.com/url?q=https%3A%2F%2Fexample.org",   // not the search host
           "https://google.a.b.c.d/url?q=https%3A%2F%2Fexample.org",      // four labels after it
           "https://www.bing.com/ck/a?u=aHR0cHM6Ly9leGFtcGxlLm9yZw",       // no "a1" prefix
           "https://www.bing.com/ck/a?u=a1!!!",                            // not Base64
           "https://l.instagram.com/?u=javascript%3Aalert(1)",             // not a web address
           "https://l.instagram.com/?u=example.org",                       // no scheme
           "ftp://l.instagram.com/?u=https%3A%2F%2Fexample.org",           // not a web link
       }) {
    SCOPED_TRACE(text);
    EXPECT_EQ(unwrapped(text), std::make_pair(std::string(text), Steps{}));
  }
}

TEST(RedirectUnwrapper, TriesTheNextParameterAndTheNextWrapper) {
  // "q" holds search words, "url" the address.
  EXPECT_EQ(unwrapped("https://www.google.com/url?q=some+words&url=https%3A%2F%2Fexample.org%2F"),
            std::make_pair(std::string("https://example.org/"), Steps{"Google"}));
  // Padded with spaces, and encoded twice.
  EXPECT_EQ(unwrapped("https://l.instagram.com/?u=%20https%3A%2F%2Fexample.org%2F%20"),
            std::make_pair(std::string("https://example.org/"), Steps{"Instagram"}));
  EXPECT_EQ(unwrapped("https://l.instagram.com/?u=https%253A%252F%252Fexample.org%252F"),
            std::make_pair(std::string("https://example.org/"), Steps{"Instagram"}));
}

TEST(RedirectUnwrapper, PeelsNestedWrappersUpToTheDepthLimit) {
  std::string text = "https://example.org/";
  std::vector<std::string> nested;
  for (int i = 0; i < 6; ++i) {
    text = "https://nam02.safelinks.protection.outlook.com/?url=" +
           PercentEncoding::encode(text, PercentEncoding::Component::queryItem);
    nested.push_back(text);
  }
  auto two = unwrapped(nested[1]);
  EXPECT_EQ(two, std::make_pair(std::string("https://example.org/"),
                                Steps{"Safe Links", "Safe Links"}));
  auto six = RedirectUnwrapper::unwrap(link(nested[5]));
  EXPECT_EQ(six.steps.size(), RedirectUnwrapper::maxDepth);
  EXPECT_EQ(six.url.absoluteString(), nested[0]);  // the innermost wrapper stays
}

TEST(RedirectUnwrapper, RecognisesGoogleSearchHostsOnly) {
  for (const char* host : {"google.com", "www.google.com", "google.co.uk", "www.google.co.uk"})
    EXPECT_TRUE(RedirectUnwrapper::isGoogle(host)) << host;
  for (const char* host : {"images.google.com", "mail.google.com", "google", "notgoogle.com",
                           "www.google.a.b.c", "a.www.google.com"})
    EXPECT_FALSE(RedirectUnwrapper::isGoogle(host)) << host;
}

TEST(RedirectUnwrapper, DecodesBingValuesStrictly) {
  EXPECT_EQ(RedirectUnwrapper::decodeBing("a1aHR0cHM6Ly9leGFtcGxlLm9yZy8_eD0-"),
            "https://example.org/?x=>");
  EXPECT_EQ(RedirectUnwrapper::decodeBing("aHR0cHM6Ly9leGFtcGxlLm9yZy8"), std::nullopt);
  EXPECT_EQ(RedirectUnwrapper::decodeBing("a1/w"), std::nullopt);  // 0xFF is not UTF-8
  EXPECT_EQ(RedirectUnwrapper::decodeBing("a1a"), std::nullopt);
}

}  // namespace
}  // namespace linkferry
