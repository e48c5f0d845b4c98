#include "browsers/INI.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

TEST(INI, KeepsSpacesAroundTheFirstEqualsSign) {
  auto sections = INI::parse("[S]\nkey = a=b\n");
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].values.at("key "), " a=b");
}

TEST(INI, AcceptsEveryLineEndAndSkipsCommentsAndStrayLines) {
  const std::string text =
      "orphan=1\r\n[A]\r\nName=x\r\n; comment\n# comment\n\tPath=p \v[B]\fName=y\xC2\x85"
      "IsRelative=1\xE2\x80\xA8no equals\xE2\x80\xA9Name=z";
  auto sections = INI::parse(text);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0], (INI::Section{"A", {{"Name", "x"}, {"Path", "p"}}}));
  // The later Name overwrites the earlier one.
  EXPECT_EQ(sections[1], (INI::Section{"B", {{"Name", "z"}, {"IsRelative", "1"}}}));
}

TEST(INI, OddInputGivesSomeSectionsAndNeverFails) {
  const std::string cases[] = {"",
                               "[",
                               "]",
                               "[]",
                               "[[x]]\n=\n=v\nk=",
                               std::string("\0[a]\0", 5),
                               "\xFF\xFE[\xC3]\nk\xC2=\xE2\x80",
                               "\xE2\x80",
                               "\xC2"};
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    auto sections = INI::parse(text);
    EXPECT_LE(sections.size(), 2u);
  }
  auto odd = INI::parse("[[x]]\n=\n=v\nk=");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0], (INI::Section{"[x]", {{"", "v"}, {"k", ""}}}));
}

}  // namespace
}  // namespace linkferry
