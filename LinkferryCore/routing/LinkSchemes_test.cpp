#include "routing/LinkSchemes.h"

#include <set>
#include <string>

#include <gtest/gtest.h>

namespace linkferry {
namespace {

TEST(LinkSchemes, CatalogueIsOrderedUniqueAndDisjointFromTheReservedSchemes) {
  ASSERT_EQ(LinkSchemes::all().size(), 20u);
  EXPECT_EQ(LinkSchemes::all().front(), (LinkScheme{"mailto", "Email addresses"}));
  EXPECT_EQ(LinkSchemes::all().back(), (LinkScheme{"notion", "Notion"}));
  EXPECT_EQ(LinkSchemes::reserved().size(), 10u);
  std::set<std::string> seen;
  for (const LinkScheme& entry : LinkSchemes::all()) {
    SCOPED_TRACE(entry.scheme);
    EXPECT_TRUE(seen.insert(entry.scheme).second) << "listed twice";
    EXPECT_FALSE(LinkSchemes::reserved().contains(entry.scheme));
    // Every built-in scheme is one a user could have added.
    EXPECT_TRUE(LinkSchemes::isValidCustom(entry.scheme));
  }
}

TEST(LinkSchemes, FindComparesLowerCasedSchemes) {
  EXPECT_EQ(LinkSchemes::find("MAILTO"), (LinkScheme{"mailto", "Email addresses"}));
  EXPECT_EQ(LinkSchemes::find("FaceTime-Audio"),
            (LinkScheme{"facetime-audio", "FaceTime audio calls"}));
  EXPECT_FALSE(LinkSchemes::find("http"));
  EXPECT_FALSE(LinkSchemes::find(""));
  EXPECT_FALSE(LinkSchemes::find(std::nullopt));
  EXPECT_FALSE(LinkSchemes::find("mailto:"));
}

TEST(LinkSchemes, OtherLinksAreEverythingButMailWebAndReserved) {
  struct Case {
    std::optional<std::string_view> scheme;
    bool otherLink;
  } cases[] = {
      {"tel", true},         {"obsidian", true},   {"SLACK", true},
      {"mailto", false},     {"MailTo", false},    {"https", false},
      {"HTTP", false},       {"linkferry", false}, {"linkferry-helper", false},
      {"javascript", false}, {"vbscript", false},  {"", false},
      {std::nullopt, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(test.scheme.value_or("(none)")));
    EXPECT_EQ(LinkSchemes::isOtherLink(test.scheme), test.otherLink);
  }
}

TEST(LinkSchemes, CustomSchemesFollowTheSchemeSyntaxWithinLimits) {
  struct Case {
    std::string scheme;
    bool valid;
  } cases[] = {
      {"obsidian", true},
      {"x-callback+1.0", true},
      {"Obsidian", true},
      {"ab", true},
      {std::string(32, 'a'), true},
      {"a", false},
      {std::string(33, 'a'), false},
      {"1app", false},
      {"+app", false},
      {"my_app", false},
      {"my app", false},
      {"app:", false},
      {"\xC3\xA9-app", false},  // é first
      {"app\xC3\xA9", false},   // é later
      {"\xE2\x84\xAA"
       "ey",
       false},  // the Kelvin sign is not the letter k
      {"data", false},
      {"DATA", false},
      {"linkferry-helper", false},
      {"", false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.scheme);
    EXPECT_EQ(LinkSchemes::isValidCustom(test.scheme), test.valid);
  }
}

}  // namespace
}  // namespace linkferry
