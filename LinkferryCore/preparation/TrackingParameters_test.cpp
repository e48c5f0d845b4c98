#include "preparation/TrackingParameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace linkferry {
namespace {

TrackingParameters::Cleaned cleaned(const std::string& text) {
  auto url = URL::parse(text);
  EXPECT_TRUE(url) << text;
  return TrackingParameters::clean(*url);
}

using Names = std::vector<std::string>;

TEST(TrackingParameters, KeepsLinksWithoutTrackingCharacterForCharacter) {
  for (const std::string text :
       {"https://a.test/path", "https://a.test/?", "https://a.test/?id=7&&x=&y#utm_source=z",
        "https://a.test/?utmost=1&pk=2&%C3=3", "https://www.youtube.com/watch?v=x&t=1",
        "https://a.test/?si=1&feature=2", "mailto:a@b.test?subject=hi"}) {
    SCOPED_TRACE(text);
    auto result = cleaned(text);
    EXPECT_EQ(result.url.absoluteString(), text);
    EXPECT_EQ(result.removed, Names{});
  }
}

TEST(TrackingParameters, RemovesKnownNamesPrefixesAndSiteNames) {
  struct Case {
    std::string input, output;
    Names removed;
  };
  const std::vector<Case> cases = {
      {"https://a.test/p?utm_source=x&id=7#top", "https://a.test/p?id=7#top", {"utm_source"}},
      {"https://a.test/p?fbclid=abc", "https://a.test/p", {"fbclid"}},
      {"https://a.test/?UTM_Source=x&utm%5Fmedium=y&keep=1&&",
       "https://a.test/?keep=1",
       {"UTM_Source", "utm_medium"}},
      {"https://a.test/?a=1&gclid=2&&b&mc_eid=3#f?utm_x=1", "https://a.test/?a=1&b#f?utm_x=1",
       {"gclid", "mc_eid"}},
      {"https://youtu.be/abc?si=XYZ&t=3", "https://youtu.be/abc?t=3", {"si"}},
      {"https://m.youtube.com/watch?v=1&feature=share&pp=2", "https://m.youtube.com/watch?v=1",
       {"feature", "pp"}},
      {"https://open.spotify.com/track/1?si=abc", "https://open.spotify.com/track/1", {"si"}},
      {"https://x.com/a/status/1?ref_src=twsrc", "https://x.com/a/status/1", {"ref_src"}},
      {"https://a.test/?utm+source=1&pk_campaign=2", "https://a.test/?utm+source=1",
       {"pk_campaign"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    auto result = cleaned(c.input);
    EXPECT_EQ(result.url.absoluteString(), c.output);
    EXPECT_EQ(result.removed, c.removed);
  }
}

TEST(TrackingParameters, JudgesOneNameOnAHost) {
  EXPECT_TRUE(TrackingParameters::isTracking("Utm_Campaign", "a.test"));
  EXPECT_TRUE(TrackingParameters::isTracking("si", "www.youtube.com"));
  EXPECT_FALSE(TrackingParameters::isTracking("si", "a.test"));
  EXPECT_FALSE(TrackingParameters::isTracking("si", "open.spotify.com.evil.test"));
  EXPECT_FALSE(TrackingParameters::isTracking("ref_src", "notx.com"));
  EXPECT_FALSE(TrackingParameters::isTracking("si", "WWW.YOUTUBE.COM"));  // hosts as passed
}

}  // namespace
}  // namespace linkferry
