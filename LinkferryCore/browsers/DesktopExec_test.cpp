#include "browsers/DesktopExec.h"

#include <gtest/gtest.h>

#include <set>

namespace linkferry {
namespace {

using Arguments = std::vector<std::string>;

TEST(DesktopExec, SplitsQuotesAndRemovesFieldCodes) {
  const struct {
    const char* exec;
    Arguments expected;
  } cases[] = {
      {"firefox %u", {"firefox"}},
      {R"("/opt/My Browser/browser" --flag %U)", {"/opt/My Browser/browser", "--flag"}},
      {"/usr/bin/flatpak run --branch=stable --command=brave --file-forwarding com.brave.Browser "
       "@@u %u @@",
       {"/usr/bin/flatpak", "run", "--branch=stable", "--command=brave", "com.brave.Browser"}},
      {"app --rate=100%% --url=%u", {"app", "--rate=100%", "--url=%u"}},
      {R"(app "" "a\"b\\c" x"y z"w)", {"app", "", "a\"b\\c", "xy zw"}},
      {"  \tapp\t\targ  ", {"app", "arg"}},
      {"%f %F %d %D %n %N %i %c %k %v %m", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exec);
    EXPECT_EQ(DesktopExec::arguments(c.exec), c.expected);
  }
}

TEST(DesktopExec, AQuoteLeftOpenInvalidatesTheCommand) {
  EXPECT_EQ(DesktopExec::arguments(R"("/usr/bin/browser %u)"), Arguments{});
  EXPECT_EQ(DesktopExec::arguments(R"(browser "a\)"), Arguments{});
}

TEST(DesktopExec, ResolvesOnTheSearchPathInOrder) {
  const std::set<std::string> executables = {"/b/tool", "/c/tool", "/usr/bin/default-tool"};
  auto isExecutable = [&](const std::string& path) { return executables.count(path) != 0; };
  EXPECT_EQ(DesktopExec::resolve("tool", "/a::/b:/c", isExecutable), "/b/tool");
  EXPECT_EQ(DesktopExec::resolve("/abs/tool", "/b", isExecutable), "/abs/tool");
  EXPECT_EQ(DesktopExec::resolve("missing", "/b:/c", isExecutable), "missing");
  EXPECT_EQ(DesktopExec::resolve("default-tool", std::nullopt, isExecutable),
            "/usr/bin/default-tool");
  EXPECT_EQ(DesktopExec::resolve("tool", "", isExecutable), "tool");
}

}  // namespace
}  // namespace linkferry
