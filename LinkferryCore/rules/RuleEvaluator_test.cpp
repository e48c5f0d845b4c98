#include "rules/RuleEvaluator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Regex.h"
#include "rules/Glob.h"

namespace linkferry {
namespace {

struct Link {
  std::string url;
  std::optional<std::string> sourceApp = std::nullopt;
  std::optional<std::string> sourceWindow = std::nullopt;
};

RoutingContext utcContext(std::set<std::string> networks = {}) {
  return RoutingContext(std::nullopt, std::nullopt, std::move(networks), Date{1'796'000'000},
                        *Calendar::withTimeZone("UTC"));
}

// The result with the pattern cache and with compiling every time; the two must agree.
bool evaluate(const Matcher& matcher, const Link& link, const RoutingContext& context) {
  auto url = URL::parse(link.url);
  EXPECT_TRUE(url) << link.url;
  const LinkRequest request(*url, link.sourceApp, link.sourceWindow, Date{});
  bool cached = RuleEvaluator::matches(
      matcher, RuleEvaluator::Subject(request, context, RuleEvaluator::Patterns::cached));
  bool compiled = RuleEvaluator::matches(
      matcher, RuleEvaluator::Subject(request, context, RuleEvaluator::Patterns::compiledEachTime));
  EXPECT_EQ(cached, compiled) << "the cache changed a result";
  EXPECT_EQ(cached, RuleEvaluator::matches(matcher, request, context));
  return cached;
}

struct Case {
  Matcher matcher;
  Link link;
  bool expected;
};

void runCases(const std::vector<Case>& cases, const RoutingContext& context = utcContext()) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.matcher.json() + " on " + c.link.url);
    EXPECT_EQ(evaluate(c.matcher, c.link, context), c.expected);
  }
}

TEST(RuleEvaluator, HostPatterns) {
  runCases({
      {Matcher::host("*.example.com"), {"https://example.com/"}, true},
      {Matcher::host("*.example.com"), {"https://www.example.com/"}, true},
      {Matcher::host("*.example.com"), {"https://a.b.example.com/"}, true},
      {Matcher::host("*.example.com"), {"https://notexample.com/"}, false},
      {Matcher::host("*example.com"), {"https://notexample.com/"}, true},
      {Matcher::host("example.com"), {"https://www.example.com/"}, false},
      {Matcher::host("EXAMPLE.com"), {"https://Example.COM/"}, true},
      {Matcher::host("ex?mple.com"), {"https://exaample.com/"}, false},
      {Matcher::host("ex?mple.com"), {"https://exbmple.com/"}, true},
      {Matcher::host("*.ÉCOLE.fr"), {"https://www.%C3%A9cole.fr/"}, true},
      {Matcher::host("*"), {"mailto:someone@example.com"}, false},
      {Matcher::not_(Matcher::host("*")), {"mailto:someone@example.com"}, true},
      {Matcher::hostRegex("^MAIL\\."), {"https://mail.example.com/"}, true},
      {Matcher::hostRegex("mail"), {"mailto:mail@example.com"}, false},
      {Matcher::hostRegex("("), {"https://mail.example.com/"}, false},
      {Matcher::not_(Matcher::hostRegex("(")), {"https://mail.example.com/"}, true},
  });
}

TEST(RuleEvaluator, PathsSchemesAndLinkText) {
  runCases({
      {Matcher::pathPrefix("/Docs"), {"https://a.test/Docs/x"}, true},
      {Matcher::pathPrefix("/docs"), {"https://a.test/Docs/x"}, false},
      {Matcher::pathPrefix("/docs/"), {"https://a.test/docs/"}, false},
      {Matcher::pathPrefix("/docs"), {"https://a.test/docs/"}, true},
      {Matcher::pathPrefix("/a b"), {"https://a.test/a%20b?x#y"}, true},
      {Matcher::pathPrefix("/cafe"), {"https://a.test/cafe%CC%81"}, false},
      {Matcher::pathPrefix("/caf"), {"https://a.test/cafe%CC%81"}, true},
      {Matcher::pathPrefix(""), {"mailto:x@y"}, true},
      {Matcher::urlRegex("UTM_source=\\w+"), {"https://a.test/?utm_source=x"}, true},
      {Matcher::urlRegex("^https://a"), {"https://b.test/a"}, false},
      {Matcher::urlRegex("[z-a]"), {"https://b.test/"}, false},
      {Matcher::scheme("MAILTO"), {"mailto:x@y"}, true},
      {Matcher::scheme("http"), {"https://a.test/"}, false},
      {Matcher::scheme("a"), {"//a.test/"}, false},
  });
}

TEST(RuleEvaluator, QueryItems) {
  runCases({
      {Matcher::query("flag"), {"https://a.test/?flag"}, true},
      {Matcher::query("flag", "1"), {"https://a.test/?flag"}, false},
      {Matcher::query("flag", ""), {"https://a.test/?flag="}, true},
      {Matcher::query("q", "a b"), {"https://a.test/?x=1&q=a%20b"}, true},
      {Matcher::query("q", "a b"), {"https://a.test/?q=a+b"}, false},
      {Matcher::query("q", "a+b"), {"https://a.test/?q=a+b"}, true},
      {Matcher::query("Q"), {"https://a.test/?q=1"}, false},
      {Matcher::query("q"), {"https://a.test/#q=1"}, false},
  });
}

TEST(RuleEvaluator, SourceAppWindowAndNetwork) {
  const RoutingContext context = utcContext({"Office WiFi"});
  runCases(
      {
          {Matcher::sourceApp("com.Slack.app"), {"https://a.test/", "COM.slack.APP"}, true},
          {Matcher::sourceApp("com.slack"), {"https://a.test/", "com.slack.app"}, false},
          {Matcher::sourceApp("com.slack"), {"https://a.test/"}, false},
          {Matcher::sourceWindow("general \\| ACME"),
           {"https://a.test/", "x", "#General | Acme"},
           true},
          {Matcher::sourceWindow(".*"), {"https://a.test/", "x"}, false},
          {Matcher::sourceWindow("(("), {"https://a.test/", "x", "(("}, false},
          {Matcher::network("Office WiFi"), {"https://a.test/"}, true},
          {Matcher::network("office wifi"), {"https://a.test/"}, false},
      },
      context);
}

TEST(RuleEvaluator, CombinationsAndShortCircuits) {
  const Matcher bad = Matcher::hostRegex("(");
  runCases({
      {Matcher::all({}), {"https://a.test/"}, true},
      {Matcher::any({}), {"https://a.test/"}, false},
      {Matcher::not_(Matcher::any({})), {"https://a.test/"}, true},
      {Matcher::all({Matcher::host("a.test"), Matcher::scheme("https")}),
       {"https://a.test/"},
       true},
      {Matcher::all({Matcher::host("a.test"), Matcher::scheme("http")}),
       {"https://a.test/"},
       false},
      {Matcher::any({bad, Matcher::scheme("https")}), {"https://a.test/"}, true},
      {Matcher::not_(Matcher::not_(Matcher::host("a.test"))), {"https://a.test/"}, true},
      {Matcher::any(
           {Matcher::all({Matcher::network("x")}), Matcher::not_(Matcher::pathPrefix("/p"))}),
       {"https://a.test/p/q"},
       false},
  });
}

TEST(RuleEvaluator, ProblemsNameBadPatternsAndTimeWindowsInMemberOrder) {
  const Matcher matcher = Matcher::all({
      Matcher::host("(not checked"),
      Matcher::hostRegex("(["),
      Matcher::timeWindow(
          TimeWindow{.days = std::vector<std::int64_t>{0, 8, 9}, .start = "24:00", .end = "07:00"}),
      Matcher::not_(Matcher::any({Matcher::sourceWindow("ok"), Matcher::urlRegex("a{2,1}")})),
      Matcher::timeWindow(
          TimeWindow{.days = std::vector<std::int64_t>{1, 7}, .start = "9:5", .end = "17:00"}),
  });
  EXPECT_EQ(RuleEvaluator::problems(matcher),
            (std::vector<std::string>{
                "invalid regular expression: ([",
                "invalid time window 24:00-07:00, expected HH:mm",
                "invalid days [0, 8, 9], expected 1 (Monday) to 7 (Sunday)",
                "invalid regular expression: a{2,1}",
            }));
  EXPECT_TRUE(RuleEvaluator::problems(Matcher::query("(")).empty());
}

TEST(Glob, WildcardsOverUserPerceivedCharacters) {
  struct GlobCase {
    const char* pattern;
    const char* text;
    bool expected;
  };
  const GlobCase cases[] = {
      {"", "", true},
      {"*", "", true},
      {"", "a", false},
      {"a*b*c", "aXXbYYc", true},
      {"a*b*c", "aXXbYY", false},
      {"*.test", "a.b.test", true},
      {"*.test", "a.tests", false},
      {"*.test", "test", false},
      {"*x", "", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"**a", "bba", true},
      {"*ab", "aab", true},
      {"a*", "a*", true},
      {"a\\*", "a\\xyz", true},
      // One user-perceived character each, though several code points or bytes.
      {"caf?", "cafe\u0301", true},
      {"caf?", "caf\u00e9", true},
      {"??", "🇩🇪🇫🇷", true},
      {"?", "🇩🇪🇫🇷", false},
      {"🇩🇪*", "🇩🇪x", true},
      {"e*", "e\u0301", false},
  };
  for (const GlobCase& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + c.text);
    EXPECT_EQ(Glob::wildcard(c.pattern, c.text), c.expected);
  }
}

}  // namespace
}  // namespace linkferry
