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

TEST(ProcessInspector, FindsTheProfileOnRealBrowserCommandLines) {
  using Argument = ProcessInspector::ProfileArgument;
  const std::vector<std::pair<std::vector<std::string>, Argument>> cases = {
      // Debian's chromium as /proc/PID/cmdline shows it after its wrapper.
      {{"/usr/lib/chromium/chromium", "--show-component-extension-options",
        "--enable-gpu-rasterization", "--no-default-browser-check", "--load-extension=",
        "about:blank", "--user-data-dir=/tmp/f/chromium", "--profile-directory=Profile 1",
        "--host-resolver-rules=MAP * 127.0.0.1:38917"},
       {std::nullopt, "Profile 1"}},
      {{"chromium", "--profile-directory", "Default"}, {std::nullopt, "Default"}},
      // Firefox, as the desktop and scripts start it.
      {{"/usr/lib/firefox-esr/firefox-esr", "--headless", "--no-remote", "--marionette",
        "--profile", "/tmp/f/firefox/work/"},
       {"/tmp/f/firefox/work", std::nullopt}},
      {{"firefox-esr", "-P", "work", "https://a.test/"}, {std::nullopt, "work"}},
      {{"firefox-esr", "-p=personal"}, {std::nullopt, "personal"}},
      {{"firefox-esr", "-PROFILE", "/tmp/x/../y"}, {"/tmp/y", std::nullopt}},
      // "-P" alone opens the profile manager; the program name is never a flag.
      {{"firefox-esr", "-P", "-no-remote"}, {}},
      {{"-P", "x"}, {}},
      {{"firefox-esr", "https://a.test/"}, {}},
  };
  for (const auto& [arguments, expected] : cases) {
    SCOPED_TRACE(arguments.size() > 1 ? arguments[1] : arguments[0]);
    EXPECT_EQ(ProcessInspector::profileArgument(arguments), expected);
  }
}

}  // namespace
}  // namespace linkferry
