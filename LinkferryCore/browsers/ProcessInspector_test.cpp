#include "browsers/ProcessInspector.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "support/TestSupport.h"

namespace linkferry {
namespace {

using Arguments = std::vector<std::string>;

std::string procArgs(std::int32_t count, std::string_view rest) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &count, sizeof count);
  return bytes + std::string(rest);
}

TEST(ProcessInspector, ParsesTheMacOSArgumentArea) {
  using namespace std::string_literals;
  const struct {
    std::string bytes;
    std::optional<Arguments> expected;
  } cases[] = {
      {procArgs(2, "/Applications/B.app/Contents/MacOS/B\0\0\0\0B\0--user-data-dir=/x\0ENV=1\0"s),
       Arguments{"B", "--user-data-dir=/x"}},
      {procArgs(0, "/bin/x\0\0"s), Arguments{}},
      {procArgs(3, "/bin/x\0\0a\0b\0"s), std::nullopt},  // fewer strings than counted
      {procArgs(1, "/bin/x"s), std::nullopt},            // no arguments at all
      {procArgs(-1, "/bin/x\0\0a\0"s), std::nullopt},
      {"\x01\0"s, std::nullopt},
      {procArgs(1, "/bin/x\0\0caf\xE9"s), Arguments{"caf\xEF\xBF\xBD"}},  // repaired, unterminated
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    EXPECT_EQ(ProcessInspector::parseProcArgs2(c.bytes), c.expected);
  }
}

TEST(ProcessInspector, ReadsTheArgumentsOfARunningProcess) {
  auto arguments = ProcessInspector::arguments(getpid());
  ASSERT_TRUE(arguments);
  ASSERT_FALSE(arguments->empty());
  EXPECT_NE(arguments->front().find("test_browsers"), std::string::npos);
  EXPECT_EQ(ProcessInspector::arguments(-5), std::nullopt);
  EXPECT_EQ(ProcessInspector::arguments(0x3FFFFFFF), std::nullopt);
}

TEST(ProcessInspector, FindsTheUserDataFolderInEitherFlagForm) {
  testing::ScopedEnvironment home("HOME", "/home/u");
  const struct {
    Arguments arguments;
    std::optional<std::string> expected;
  } cases[] = {
      {{"chromium", "--user-data-dir=~/work//chrome/"}, "/home/u/work/chrome"},
      {{"chromium", "--user-data-dir", "/a/./b/../c", "--user-data-dir=/ignored"}, "/a/c"},
      {{"chromium", "--user-data-dir"}, std::nullopt},
      {{"chromium", "--user-data-directory=/x"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    EXPECT_EQ(ProcessInspector::userDataDir(c.arguments), c.expected);
  }
}

}  // namespace
}  // namespace linkferry
