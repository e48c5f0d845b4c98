#include "foundation/Uuid.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace linkferry {
namespace {

TEST(Uuid, RandomIsVersion4InCanonicalUpperCase) {
  std::unordered_set<Uuid> seen;
  for (int i = 0; i < 100; ++i) {
    Uuid uuid = Uuid::random();
    std::string text = uuid.string();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
    EXPECT_EQ(Uuid::parse(text), uuid);
    EXPECT_TRUE(seen.insert(uuid).second);
  }
}

TEST(Uuid, ParsesEitherCaseAndRejectsOtherShapes) {
  auto upper = Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  ASSERT_TRUE(upper);
  EXPECT_EQ(Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f"), upper);
  EXPECT_EQ(upper->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  for (const char* text : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                           "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",
                           "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Uuid::parse(text), std::nullopt);
  }
}

}  // namespace
}  // namespace linkferry
