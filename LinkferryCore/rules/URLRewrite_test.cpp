#include "rules/URLRewrite.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/URLRewriter.h"

namespace linkferry {
namespace {

std::string applied(const URLRewrite& rewrite, const std::string& link) {
  auto url = URL::parse(link);
  EXPECT_TRUE(url) << link;
  auto result = rewrite.apply(*url);
  return result ? result->absoluteString() : "(none)";
}

TEST(URLRewrite, ApplyReplacesHostsTextAndPrefixes) {
  struct Case {
    URLRewrite rewrite;
    const char* link;
    const char* expected;
  };
  const Case cases[] = {
      {URLRewrite::host(" \tOld.Reddit.COM\t "), "https://www.reddit.com/r/x?a=1#f",
       "https://old.reddit.com/r/x?a=1#f"},
      {URLRewrite::host("user.test"), "https://u:p@a.test:8443/p", "https://u:p@user.test:8443/p"},
      {URLRewrite::host("  "), "https://a.test/", "(none)"},
      // A port, query, fragment or user in the new host cannot become part of a host.
      {URLRewrite::host("new.com:8080"), "https://a.test/x", "(none)"},
      {URLRewrite::host("new.com?q"), "https://a.test/x", "(none)"},
      {URLRewrite::host("new.com#f"), "https://a.test/x", "(none)"},
      {URLRewrite::host("me@new.com"), "https://a.test/x", "(none)"},
      {URLRewrite::host("b.test"), "mailto:x@a.test", "(none)"},
      {URLRewrite::host("a.test"), "https://A.test/", "https://a.test/"},
      {URLRewrite::host("a.test"), "https://a.test/", "(none)"},
      {URLRewrite::regex("^http://", "https://"), "HTTP://a.test/", "https://a.test/"},
      {URLRewrite::regex("(\\w+)\\.medium\\.com/", "scribe.rip/@$1/"),
       "https://alice.medium.com/post", "https://scribe.rip/@alice/post"},
      {URLRewrite::regex("a", "a"), "https://a.test/", "(none)"},
      {URLRewrite::regex("zzz", "y"), "https://a.test/", "(none)"},
      {URLRewrite::regex("(", "y"), "https://a.test/", "(none)"},
      {URLRewrite::regex("^https:", ""), "https://a.test/", "(none)"},
      {URLRewrite::regex("a\\.test", "a test"), "https://a.test/", "(none)"},
      {URLRewrite::stripPrefix("https://wrap.test/?u="), "https://wrap.test/?u=https://real.test/x",
       "https://real.test/x"},
      {URLRewrite::stripPrefix("HTTPS://WRAP.test/?u="),
       "https://wrap.test/?u=https%3A%2F%2Freal.test%2Fx%3Fa%3D1", "https://real.test/x?a=1"},
      {URLRewrite::stripPrefix("https://wrap.test/?u="), "https://wrap.test/?u=real.test",
       "(none)"},
      {URLRewrite::stripPrefix("https://other.test/"), "https://wrap.test/x", "(none)"},
      {URLRewrite::stripPrefix(""), "https://wrap.test/x", "(none)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rewrite.toJson().dump() + " on " + c.link);
    EXPECT_EQ(applied(c.rewrite, c.link), c.expected);
  }
}

TEST(URLRewrite, SummaryAndProblems) {
  EXPECT_EQ(URLRewrite::host("old.reddit.com").summary(), "rewrite host to old.reddit.com");
  EXPECT_EQ(URLRewrite::regex("a", "b").summary(), "rewrite a → b");
  EXPECT_EQ(URLRewrite::stripPrefix("https://x/?u=").summary(), "remove prefix https://x/?u=");

  struct Case {
    URLRewrite rewrite;
    std::vector<std::string> problems;
  };
  const Case cases[] = {
      {URLRewrite::host(" "), {"Enter the new host name."}},
      {URLRewrite::host("a b"), {"A host name has no spaces or slashes."}},
      {URLRewrite::host("a/b"), {"A host name has no spaces or slashes."}},
      {URLRewrite::host("new.com:8080"), {"A host name has no spaces or slashes."}},
      {URLRewrite::host("me@new.com"), {"A host name has no spaces or slashes."}},
      {URLRewrite::host(" a.test "), {}},
      {URLRewrite::regex("", "x"), {"Not a valid regular expression."}},
      {URLRewrite::regex("(", "x"), {"Not a valid regular expression."}},
      {URLRewrite::regex("a", ""), {}},
      {URLRewrite::stripPrefix(""), {"Enter the prefix to remove."}},
      {URLRewrite::stripPrefix(" "), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rewrite.toJson().dump());
    EXPECT_EQ(c.rewrite.problems(), c.problems);
  }
}

Rule rewriteRule(std::string name, Matcher match, URLRewrite rewrite, bool enabled = true,
                 std::optional<Date> expiry = std::nullopt) {
  return Rule{.id = name,
              .name = name,
              .enabled = enabled,
              .match = std::move(match),
              .action = RuleAction{.kind = RuleActionKind::rewrite(std::move(rewrite))},
              .expiresAt = expiry};
}

TEST(URLRewriter, AppliesMatchingRewritesInOrderOnTheRewrittenLink) {
  RuleSet set{.version = 1, .rules = {}};
  set.rules.push_back(rewriteRule("disabled", Matcher::all({}), URLRewrite::host("x.test"), false));
  set.rules.push_back(
      rewriteRule("expired", Matcher::all({}), URLRewrite::host("x.test"), true, Date{50}));
  set.rules.push_back(
      rewriteRule("to mobile", Matcher::host("a.test"), URLRewrite::host("m.a.test")));
  set.rules.push_back(Rule{.id = "open",
                           .name = "open",
                           .enabled = true,
                           .match = Matcher::all({}),
                           .action = RuleAction{.kind = RuleActionKind::ignore()},
                           .expiresAt = std::nullopt});
  // Sees the link as the first rewrite left it.
  set.rules.push_back(
      rewriteRule("mobile path", Matcher::host("m.a.test"), URLRewrite::regex("/p", "/mobile/p")));
  set.rules.push_back(
      rewriteRule("no-op", Matcher::all({}), URLRewrite::regex("mobile", "mobile")));
  set.rules.push_back(
      rewriteRule("too late", Matcher::host("a.test"), URLRewrite::host("late.test")));

  const LinkRequest request(*URL::parse("https://a.test/p"), Date{});
  const RoutingContext context(std::nullopt, std::nullopt, {}, Date{100},
                               *Calendar::withTimeZone("UTC"));
  URLRewriter::Result result = URLRewriter::apply(set, request, context);
  EXPECT_EQ(result.url.absoluteString(), "https://m.a.test/mobile/p");
  EXPECT_EQ(result.steps, (std::vector<std::string>{
                              "rule “to mobile”: https://a.test/p → https://m.a.test/p",
                              "rule “mobile path”: https://m.a.test/p → https://m.a.test/mobile/p",
                          }));

  URLRewriter::Result untouched = URLRewriter::apply(RuleSet{}, request, context);
  EXPECT_EQ(untouched.url, request.url);
  EXPECT_TRUE(untouched.steps.empty());
}

}  // namespace
}  // namespace linkferry
