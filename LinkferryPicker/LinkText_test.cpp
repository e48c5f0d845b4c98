// How the window writes a link: the host set apart exactly as a reader must judge it, long rests
// shortened in the middle without breaking a character.
#include "LinkText.h"

#include <gtest/gtest.h>

namespace linkferry::picker {
namespace {

LinkText of(const std::string& link, std::size_t maxRest = 56) {
  return LinkText::of(*URL::parse(link), maxRest);
}

TEST(LinkText, TheHostStandsApartFromUserInfoPortAndPath) {
  EXPECT_EQ(of("https://news.example/a?b=1#c"), (LinkText{"https://", "news.example", "/a?b=1#c"}));
  // A deceptive link: what stands before "@" is not the host.
  EXPECT_EQ(of("https://bank.example@evil.example:8443/login"),
            (LinkText{"https://bank.example@", "evil.example", ":8443/login"}));
  EXPECT_EQ(of("http://[2001:db8::1]:80/x"), (LinkText{"http://", "[2001:db8::1]", ":80/x"}));
  EXPECT_EQ(of("mailto:someone@example.com"), (LinkText{"", "", "mailto:someone@example.com"}));
}

TEST(LinkText, ALongRestKeepsItsStartAndEndAroundAnEllipsis) {
  const LinkText link = of("https://example.com/" + std::string(40, 'a') + "/éü" + "zzzzzzz", 21);
  EXPECT_EQ(link.rest, "/aaaaaaaaa…%A9%C3%BCzzzzzzz");
  EXPECT_EQ(shortenedInMiddle("äöüäöüäöüäöü", 8), "äöüä…äöü");
  EXPECT_EQ(shortenedInMiddle("short", 8), "short");
}

}  // namespace
}  // namespace linkferry::picker
