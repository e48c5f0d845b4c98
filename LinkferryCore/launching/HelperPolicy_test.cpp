#include "launching/HelperPolicy.h"

#include <gtest/gtest.h>

#include <optional>

#include "launching/LaunchCommand.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using HelperPolicy::Rejection;

const std::filesystem::path kHome = "/Users/ann";
const std::string kSupport = "/Users/ann/Library/Application Support";
const std::string kChrome = "/Applications/Google Chrome.app";

bool fakeIsApp(const std::string& path) {
  return path == kChrome || path == "/Applications/Firefox.app" ||
         path == "/Applications/../Applications/Google Chrome.app";
}

// The rejection `validate` throws, or nothing when it accepts.
std::optional<Rejection> outcome(const LaunchPlan& plan) {
  try {
    HelperPolicy::validate(plan, fakeIsApp, kHome);
    return std::nullopt;
  } catch (const Rejection& rejection) {
    return rejection;
  }
}

LaunchPlan open(std::vector<std::string> arguments) {
  return LaunchPlan("/usr/bin/open", std::move(arguments), {});
}

struct Case {
  const char* name;
  LaunchPlan plan;
  std::optional<std::string> refusal;  // the description, or nothing for acceptance
};

void expectCases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = outcome(c.plan);
    if (c.refusal) {
      ASSERT_TRUE(result.has_value());
      EXPECT_EQ(result->description(), *c.refusal);
    } else {
      EXPECT_FALSE(result.has_value()) << result->description();
    }
  }
}

TEST(HelperPolicy, OpenForms) {
  const std::string link = "https://a.test/x";
  expectCases({
      {"chromium profile",
       open({"-g", "-na", kChrome, "--args", "--profile-directory=Profile 1", link}),
       {}},
      {"firefox private",
       open({"-na", "/Applications/Firefox.app", "--args", "-P", "work", "--private-window", link}),
       {}},
      {"no link after --args", open({"-na", kChrome, "--args", "--new-window"}), {}},
      {"empty after --args", open({"-na", kChrome, "--args"}), {}},
      {"bundle with mailto", open({"-b", "com.apple.mail", "mailto:a@b.test"}), {}},
      {"bundle alone", open({"-g", "-b", "com.apple.mail"}), {}},
      {"plain -a", open({"-a", "/Applications/Firefox.app", link}), {}},
      {"-g alone", open({"-g"}), "unexpected argument "},
      {"nothing", open({}), "unexpected argument "},
      {"-g later", open({"-na", kChrome, "--args", "-g", link}), "unexpected argument -g"},
      {"-g twice", open({"-g", "-g", "-b", "x"}), "unexpected argument -g"},
      {"unknown mode", open({"-n", kChrome}), "unexpected argument -n"},
      {"-b without id", open({"-b"}), "unexpected argument -b"},
      {"-b with flag as id", open({"-b", "-a", link}), "unexpected argument -b"},
      {"-b file link", open({"-b", "com.x", "file:///etc/passwd"}),
       "not a link LinkFerry opens: file:///etc/passwd"},
      {"-b FILE link", open({"-b", "com.x", "FILE:///etc/passwd"}),
       "not a link LinkFerry opens: FILE:///etc/passwd"},
      {"-b second link", open({"-b", "com.x", link, "https://b.test"}),
       "unexpected argument https://b.test"},
      {"-b link that is a flag", open({"-b", "com.x", "--args"}),
       "not a link LinkFerry opens: --args"},
      {"-a without path", open({"-a"}), "not an installed app: "},
      {"-a with /../", open({"-a", "/Applications/../Applications/Google Chrome.app", link}), {}},
      {"-a unknown app", open({"-a", "/tmp/evil.app", link}),
       "not an installed app: /tmp/evil.app"},
      {"-a mailto", open({"-a", kChrome, "mailto:a@b.test"}),
       "not a link LinkFerry opens: mailto:a@b.test"},
      {"-a second", open({"-a", kChrome, link, link}), "unexpected argument " + link},
      {"-na without --args", open({"-na", kChrome}), "unexpected argument "},
      {"-na with link instead", open({"-na", kChrome, link}), "unexpected argument " + link},
      {"last dash is a flag", open({"-na", kChrome, "--args", "-https://a.test"}),
       "unexpected argument -https://a.test"},
      {"two links", open({"-na", kChrome, "--args", link, link}), "unexpected argument " + link},
      {"javascript link", open({"-na", kChrome, "--args", "javascript:alert(1)"}),
       "not a link LinkFerry opens: javascript:alert(1)"},
      {"text without scheme", open({"-na", kChrome, "--args", "a.test"}),
       "not a link LinkFerry opens: a.test"},
  });
}

TEST(HelperPolicy, BrowserFlags) {
  const auto args = [](std::vector<std::string> flags) {
    std::vector<std::string> all = {"-na", kChrome, "--args"};
    all.insert(all.end(), flags.begin(), flags.end());
    all.push_back("https://a.test");
    return open(all);
  };
  expectCases({
      {"known flags in any order",
       args({"--new-tab", "--incognito", "--private-window", "--new-window"}),
       {}},
      {"unknown flag", args({"--remote-debugging-port=9222"}),
       "unexpected argument --remote-debugging-port=9222"},
      {"empty profile dir", args({"--profile-directory="}),
       "unexpected argument --profile-directory="},
      {"profile dir ..", args({"--profile-directory=.."}),
       "unexpected argument --profile-directory=.."},
      {"profile dir slash", args({"--profile-directory=a/b"}),
       "unexpected argument --profile-directory=a/b"},
      {"-P name", args({"-P", "work"}), {}},
      {"-P dash", args({"-P", "-new-instance"}), "unexpected argument -P"},
      {"-P slash", args({"-P", "a/b"}), "unexpected argument -P"},
      {"data dir below support", args({"--user-data-dir=" + kSupport + "/Chrome Work"}), {}},
      {"data dir by tilde", args({"--user-data-dir=~/Library/Application Support/X"}), {}},
      {"data dir dotted but inside", args({"--user-data-dir=" + kSupport + "/./a//b/"}), {}},
      {"data dir is support", args({"--user-data-dir=" + kSupport}),
       "unexpected argument --user-data-dir=" + kSupport},
      {"data dir support slash", args({"--user-data-dir=" + kSupport + "/"}),
       "unexpected argument --user-data-dir=" + kSupport + "/"},
      {"data dir leaves", args({"--user-data-dir=" + kSupport + "/../../.ssh"}),
       "unexpected argument --user-data-dir=" + kSupport + "/../../.ssh"},
      {"data dir leaves and returns", args({"--user-data-dir=" + kSupport + "/x/../y"}), {}},
      {"data dir relative", args({"--user-data-dir=Library/Application Support/x"}),
       "unexpected argument --user-data-dir=Library/Application Support/x"},
      {"data dir other home", args({"--user-data-dir=/Users/annex/Library/Application Support/x"}),
       "unexpected argument --user-data-dir=/Users/annex/Library/Application Support/x"},
  });
  // "-P" last: the name it needs is missing.
  expectCases({{"-P last", open({"-na", kChrome, "--args", "-P"}), "unexpected argument -P"}});
}

TEST(HelperPolicy, FallbacksAreCheckedRecursively) {
  const LaunchPlan shell("/bin/sh", {"-c", "true"}, {});
  const LaunchPlan good = open({"-b", "com.x", "https://a.test"});
  LaunchPlan nested = good;
  nested.fallbacks = {good, LaunchPlan(good.executable, good.arguments, {}, {shell})};
  expectCases({
      {"shell", shell, "not a LinkFerry launch"},
      {"shell as fallback", LaunchPlan(good.executable, good.arguments, {}, {shell}),
       "not a LinkFerry launch"},
      {"shell nested two deep", nested, "not a LinkFerry launch"},
      {"relative open", LaunchPlan("open", good.arguments, {}), "not a LinkFerry launch"},
      {"warnings and note ignored",
       LaunchPlan(good.executable, good.arguments, {"x"}, {good}, "n"),
       {}},
  });
}

LaunchPlan script(const std::vector<std::string>& lines, const std::string& link) {
  std::vector<std::string> arguments;
  for (const auto& line : lines) {
    arguments.push_back("-e");
    arguments.push_back(line);
  }
  arguments.push_back(link);
  return LaunchPlan("/usr/bin/osascript", arguments, {});
}

TEST(HelperPolicy, CurrentTabScripts) {
  const auto safari = LaunchCommand::currentTabScript("com.apple.Safari", "current tab", false);
  const auto chromeBackground =
      LaunchCommand::currentTabScript("com.google.Chrome", "active tab", true);
  auto tampered = safari;
  tampered[5] = "do shell script \"id\"";
  auto wrongTab = LaunchCommand::currentTabScript("com.apple.Safari", "active tab", false);
  auto unknown = LaunchCommand::currentTabScript("org.mozilla.firefox", "current tab", false);
  const std::vector<std::string> three(safari.begin(), safari.begin() + 3);
  auto extra = safari;
  extra.push_back("end run");
  expectCases({
      {"safari", script(safari, "https://a.test"), {}},
      {"chrome background", script(chromeBackground, "http://a.test"), {}},
      {"three lines", script(three, "https://a.test"), "not a LinkFerry script"},
      {"tampered line", script(tampered, "https://a.test"), "not a LinkFerry script"},
      {"wrong tab property", script(wrongTab, "https://a.test"), "not a LinkFerry script"},
      {"browser without tab", script(unknown, "https://a.test"), "not a LinkFerry script"},
      {"extra line", script(extra, "https://a.test"), "not a LinkFerry script"},
      {"javascript link", script(safari, "javascript:x"),
       "not a link LinkFerry opens: javascript:x"},
      {"no link", LaunchPlan("/usr/bin/osascript", {"-e", "x", "-e", "y"}, {}),
       "not a LinkFerry script"},
      {"two links",
       LaunchPlan("/usr/bin/osascript", {"-e", "x", "https://a.test", "https://b.test"}, {}),
       "not a LinkFerry script"},
  });
}

TEST(HelperPolicy, HandlerChanges) {
  struct HandlerCase {
    const char* scheme;
    const char* app;
    std::vector<std::string> declaring;
    std::optional<std::string> refusal;
  };
  const std::vector<HandlerCase> cases = {
      {"https", "com.x", {"com.x"}, "not a link LinkFerry opens: https:"},
      {"", "com.x", {"com.x"}, "not a link LinkFerry opens: :"},
      {"mailto", "com.apple.mail", {"com.apple.mail"}, {}},
      {"mailto", "com.evil", {"com.apple.mail"}, "not an installed app: com.evil"},
      {"zoommtg", "com.k4t.linkferry.appstore", {}, {}},
      {"zoommtg", "us.zoom.xos", {"us.zoom.xos"}, {}},
      {"file", "com.x", {"com.x"}, "not a link LinkFerry opens: file:"},
      {"linkferry-helper",
       "com.k4t.linkferry.appstore",
       {},
       "not a link LinkFerry opens: linkferry-helper:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.scheme) + " " + c.app);
    try {
      HelperPolicy::validateHandler(c.scheme, c.app, c.declaring);
      EXPECT_FALSE(c.refusal.has_value());
    } catch (const Rejection& rejection) {
      EXPECT_EQ(std::optional<std::string>(rejection.description()), c.refusal);
    }
  }
  // On Linux the product's own application is its desktop identifier.
  EXPECT_NO_THROW(HelperPolicy::validateHandler("zoommtg", "linkferry", {}, "linkferry"));
  EXPECT_THROW(HelperPolicy::validateHandler("zoommtg", "linkferry", {}), Rejection);
}

TEST(HelperPolicy, StandardizesPathsTextually) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/a//b/./c/", "/a/b/c"}, {"/a/../../b", "/b"}, {"~/x", "/Users/ann/x"}, {"~", "/Users/ann"},
      {"a/../../b", "../b"},    {"/", "/"},           {"~ann/x", "~ann/x"},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(input);
    EXPECT_EQ(HelperPolicy::standardizePath(input, kHome), expected);
  }
}

}  // namespace
}  // namespace linkferry
