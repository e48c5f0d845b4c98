#include "rules/RuleAuthoring.h"

#include <gtest/gtest.h>

#include "foundation/Regex.h"
#include "foundation/Uuid.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"
#include "rules/RuleEvaluator.h"

namespace linkferry {
namespace {

const PublicSuffixList& psl() { return PublicSuffixList::shared(); }

URL url(std::string_view text) { return *URL::parse(text); }

BrowserTarget firefox() { return BrowserTarget{.browser = "firefox-esr"}; }

bool matches(const Matcher& matcher, std::string_view link,
             std::optional<std::string> app = std::nullopt,
             std::optional<std::string> window = std::nullopt) {
  const RoutingContext context(std::nullopt, std::nullopt, {}, Date{1'796'000'000},
                               *Calendar::withTimeZone("UTC"));
  return RuleEvaluator::matches(
      matcher, LinkRequest(url(link), std::move(app), std::move(window), Date{}), context);
}

TEST(RuleAuthoring, PageRuleCoversThePageOverBothSchemesWithAnyQueryAndNothingElse) {
  const auto rule = RuleAuthoring::remember(RememberScope::page(),
                                            url("http://Example.com/a/b/?utm=1"), firefox(),
                                            "Firefox", std::nullopt, psl());
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->name, "Always open example.com/a/b (any parameters) in Firefox");
  EXPECT_EQ(rule->match, Matcher::urlRegex(R"(^https?://example\.com/a/b/?(?:[?#].*)?$)"));
  for (const char* same : {"https://example.com/a/b", "http://EXAMPLE.com/a/b/",
                           "https://example.com/a/b?x=1#top", "https://example.com/a/b#f"}) {
    EXPECT_TRUE(matches(rule->match, same)) << same;
  }
  for (const char* other : {"https://example.com/a/bc", "https://example.com/a",
                            "https://example.com/a/b/c", "https://example.com.evil.test/a/b",
                            "ftp://example.com/a/b"}) {
    EXPECT_FALSE(matches(rule->match, other)) << other;
  }
  // The link's own text carries escapes and a port: the rule must still match the link itself.
  for (const char* link : {"https://a.test:8443/%7Euser/caf%C3%A9/", "https://bücher.de/straße",
                           "gemini://Capsule.test/x"}) {
    const auto page = RuleAuthoring::matcher(RememberScope::page(), url(link), psl());
    ASSERT_TRUE(page) << link;
    EXPECT_TRUE(matches(*page, link)) << link;
  }
  EXPECT_EQ(RuleAuthoring::pageRegex(url("gemini://Capsule.test/x")),
            R"(^gemini://capsule\.test/x/?(?:[?#].*)?$)");
  EXPECT_EQ(RuleAuthoring::pageRegex(url("mailto:someone@example.com")), std::nullopt);
}

TEST(RuleAuthoring, DomainAndHostScopesJudgeTheSiteAndKeepTheHostsWriting) {
  struct Case {
    const char* link;
    std::optional<std::string> domain;
  };
  const Case cases[] = {
      {"https://a.b.Example.CO.uk/x", "example.co.uk"},
      {"https://192.168.0.1/", "192.168.0.1"},
      {"https://[::1]:8080/", "[::1]"},
      {"https://www.bücher.de/", "bücher.de"},
      {"https://www.xn--bcher-kva.de/", "xn--bcher-kva.de"},
      // "公司.cn" is a public suffix in either writing: the domain has one label more.
      {"https://www.shop.公司.cn/", "shop.公司.cn"},
      {"https://www.shop.xn--55qx5d.cn/", "shop.xn--55qx5d.cn"},
      {"https://co.uk/", "co.uk"},
      {"https://intranet/", "intranet"},
      {"mailto:someone@example.com", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    EXPECT_EQ(RuleAuthoring::ruleDomain(url(c.link), psl()), c.domain);
    const auto rule = RuleAuthoring::alwaysOpen(url(c.link), firefox(), std::nullopt, psl());
    if (!c.domain) {
      EXPECT_FALSE(rule);
      EXPECT_FALSE(RuleAuthoring::matcher(RememberScope::host(), url(c.link), psl()));
      continue;
    }
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->match, Matcher::host("*." + *c.domain));
    // The name reads as the link's line does: an international name in its own letters.
    const std::string shown = c.domain->starts_with("xn--") ? "bücher.de"
                              : c.domain->starts_with("shop.xn--") ? "shop.公司.cn"
                                                                 : *c.domain;
    EXPECT_EQ(rule->name, "Always open " + shown + " in firefox-esr");
    EXPECT_TRUE(matches(rule->match, c.link));
  }
  const auto host = RuleAuthoring::remember(RememberScope::host(), url("https://Docs.Example.com/"),
                                            firefox(), "Firefox", std::nullopt, psl());
  ASSERT_TRUE(host);
  EXPECT_EQ(host->match, Matcher::host("docs.example.com"));
  EXPECT_EQ(host->name, "Always open docs.example.com in Firefox");
  // A look-alike of apple.com in Cyrillic letters is named by its ASCII form, never as "apple.com".
  const auto lookAlike = RuleAuthoring::remember(RememberScope::host(), url("https://аррӏе.com/"),
                                                 firefox(), "Firefox", std::nullopt, psl());
  ASSERT_TRUE(lookAlike);
  EXPECT_EQ(lookAlike->name, "Always open xn--80ak6aa92e.com in Firefox");
  EXPECT_EQ(host->action, RuleAction{.kind = RuleActionKind::open(firefox())});
  EXPECT_TRUE(host->enabled);
  EXPECT_TRUE(Uuid::parse(host->id));
}

TEST(RuleAuthoring, AppWindowAndPatternScopesNeedValidPatterns) {
  const auto scope = AppWindowScope::make("com.tinyspeck.slackmacgap", "Slack",
                                          "general (Channel) - Acme - 3 new items - Slack");
  ASSERT_TRUE(scope);
  EXPECT_EQ(scope->label, "Acme");
  const Date expiry{1'800'000'000};
  const auto rule = RuleAuthoring::remember(RememberScope::appWindow(*scope),
                                            url("https://x.test/"), firefox(), "Firefox", expiry,
                                            psl());
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->name, "Links from Slack · Acme → Firefox");
  EXPECT_EQ(rule->expiresAt, expiry);
  EXPECT_TRUE(matches(rule->match, "https://other.test/", "com.tinyspeck.slackmacgap",
                      "random - Acme - Slack"));
  EXPECT_FALSE(matches(rule->match, "https://other.test/", "com.tinyspeck.slackmacgap",
                       "random - Other - Slack"));
  EXPECT_FALSE(matches(rule->match, "https://other.test/", "org.example.chat",
                       "random - Acme - Slack"));

  EXPECT_FALSE(AppWindowScope::make(std::nullopt, "Slack", "x - Slack"));
  EXPECT_FALSE(AppWindowScope::make("", "Slack", "x - Slack"));
  EXPECT_FALSE(AppWindowScope::make("app", "App", std::nullopt));
  EXPECT_FALSE(AppWindowScope::make("app", "App", " \n"));

  AppWindowScope broken = *scope;
  broken.pattern = "([";
  EXPECT_FALSE(RuleAuthoring::remember(RememberScope::appWindow(broken), url("https://x.test/"),
                                       firefox(), "Firefox", std::nullopt, psl()));
  EXPECT_FALSE(RuleAuthoring::remember(RememberScope::pattern(""), url("https://x.test/"),
                                       firefox(), "Firefox", std::nullopt, psl()));
  const auto pattern = RuleAuthoring::remember(RememberScope::pattern("/watch\\?v="),
                                               url("https://x.test/"), firefox(), "Firefox",
                                               std::nullopt, psl());
  ASSERT_TRUE(pattern);
  EXPECT_EQ(pattern->name, "Always open URLs matching /watch\\?v= in Firefox");
}

TEST(RuleAuthoring, EscapingMakesEveryOperatorLiteral) {
  const std::string special = R"(\^$.|?*+()[]{})";
  EXPECT_EQ(RuleAuthoring::escapeRegex("a" + special + "é"),
            R"(a\\\^\$\.\|\?\*\+\(\)\[\]\{\}é)");
  const auto literal = Regex::compile(RuleAuthoring::escapeRegex(special));
  ASSERT_TRUE(literal);
  EXPECT_TRUE(literal->matches("x" + special + "y"));
  EXPECT_FALSE(literal->matches(R"(\^$.|?*+()[]{)"));
  EXPECT_FALSE(RuleAuthoring::isValidRegex(""));
  EXPECT_FALSE(RuleAuthoring::isValidRegex("(a"));
  EXPECT_TRUE(RuleAuthoring::isValidRegex("a+"));
}

TEST(RuleAuthoring, AddingPutsTheNewRuleFirstReplacingOneWithTheSameConditionAndExpiredOnes) {
  auto rule = [](std::string id, Matcher match, std::optional<Date> expiresAt = std::nullopt) {
    return Rule{.id = std::move(id),
                .name = "r",
                .match = std::move(match),
                .action = RuleAction{.kind = RuleActionKind::ignore()},
                .expiresAt = expiresAt};
  };
  const Date now{1'796'000'000};
  const RuleSet before{.rules = {rule("a", Matcher::host("a.test")),
                                 rule("old", Matcher::host("x.test"), Date{1'000}),
                                 rule("b", Matcher::host("*.b.test")),
                                 rule("c", Matcher::host("c.test"))}};
  const auto ids = [](const RuleSet& rules) {
    std::vector<std::string> ids;
    for (const Rule& r : rules.rules) ids.push_back(r.id);
    return ids;
  };
  const RuleSet after = RuleAuthoring::adding(rule("new", Matcher::host("*.b.test")), before, now);
  EXPECT_EQ(ids(after), (std::vector<std::string>{"new", "a", "c"}));

  // A choice remembered for an hour goes in front of the user's lasting rule and leaves it for
  // when it expires; a second one for the same links replaces the first.
  const Date inAnHour = now.adding(3600);
  const RuleSet hour =
      RuleAuthoring::adding(rule("hour", Matcher::host("c.test"), inAnHour), before, now);
  EXPECT_EQ(ids(hour), (std::vector<std::string>{"hour", "a", "b", "c"}));
  EXPECT_EQ(ids(RuleAuthoring::adding(rule("again", Matcher::host("c.test"), inAnHour), hour, now)),
            (std::vector<std::string>{"again", "a", "b", "c"}));
}

}  // namespace
}  // namespace linkferry
