#include "preparation/LinkPreparation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/RedirectServer.h"
#include "foundation/Dates.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;
using testing::RedirectServer;
using Trace = std::vector<std::string>;

RoutingContext context() { return RoutingContext({}, {}, {}, Date::now(), Calendar::current()); }

LinkPreparation::Result prepared(const std::string& text, const LinkPreparation::Switches& switches,
                                 const ShortLinkExpanding* expander = nullptr,
                                 const RuleSet& rules = RuleSet()) {
  auto url = URL::parse(text);
  EXPECT_TRUE(url) << text;
  return LinkPreparation::prepare(LinkRequest(*url, Date::now()), context(), switches, rules,
                                  expander);
}

const std::string kWrapped =
    "https://eur01.safelinks.protection.outlook.com/?url=http%3A%2F%2Fnews.example%2Fa&data=1";

TEST(LinkPreparation, UnwrapsRewritesAndUpgradesWithATraceLineEach) {
  RuleSet rules = RuleSet::decode(R"({"version": 1, "rules": [{"name": "mobile",
      "match": {"host": "news.example"}, "action": {"rewrite": {"host": "m.news.example"}}}]})",
                                  "rules.json");
  LinkPreparation::Switches on;
  on.forceHTTPS = true;
  auto result = prepared(kWrapped, on, nullptr, rules);
  EXPECT_EQ(result.url.absoluteString(), "https://m.news.example/a");
  ASSERT_EQ(result.trace.size(), 3u);
  EXPECT_EQ(result.trace[0], "[unwrap] Safe Links: http://news.example/a");
  EXPECT_TRUE(result.trace[1].starts_with("[rewrite] rule \u201cmobile\u201d: ")) << result.trace[1];
  EXPECT_EQ(result.trace[2], "[https] upgraded to https://m.news.example/a");

  LinkPreparation::Switches off;
  off.unwrapRedirects = off.expandShortLinks = false;
  auto untouched = prepared(kWrapped, off);
  EXPECT_EQ(untouched.url.absoluteString(), kWrapped);
  EXPECT_EQ(untouched.trace, Trace{});
  EXPECT_EQ(prepared("https://bit.ly/x", off).trace, Trace{});
}

TEST(LinkPreparation, ShortLinksWithoutNetworkStayAsTheyAre) {
  auto result = prepared("https://bit.ly/x", {});
  EXPECT_EQ(result.url.absoluteString(), "https://bit.ly/x");
  EXPECT_EQ(result.expandedFrom, std::nullopt);
  EXPECT_EQ(result.trace, Trace{"[expand] short link not expanded here (no network)"});
}

// Through the real expander against a loopback server standing in for the shorteners.
TEST(LinkPreparation, ExpandsShortLinksAndUnwrapsWhatTheyRevealed) {
  RedirectServer server(JsonValue{
      {"bit.ly/wrapped", {{"status", 301}, {"location", kWrapped}}},
      {"bit.ly/plain", {{"status", 200}}},
      {"bit.ly/chain", {{"status", 301}, {"location", "http://tinyurl.com:{port}/dead"}}},
  });
  ASSERT_NE(server.port(), 0);
  NetworkShortLinkExpander expander(5, 5000ms, server.configuration());
  const std::string shortLink = server.origin("bit.ly") + "/wrapped";

  auto result = prepared(shortLink, {}, &expander);
  EXPECT_EQ(result.url.absoluteString(), "http://news.example/a");
  EXPECT_EQ(result.expandedFrom, URL::parse(shortLink));
  EXPECT_EQ(result.trace, (Trace{"[expand] " + shortLink + " \u2192 " + kWrapped + " (1 request(s))",
                                 "[unwrap] Safe Links: http://news.example/a"}));

  const std::string plain = server.origin("bit.ly") + "/plain";
  EXPECT_EQ(prepared(plain, {}, &expander).trace,
            Trace{"[expand] " + plain + " not expanded: HTTP 200, no redirect; routing the short link"});
  const std::string chain = server.origin("bit.ly") + "/chain";
  EXPECT_EQ(prepared(chain, {}, &expander).trace,
            Trace{"[expand] " + chain + " not expanded: " + server.origin("tinyurl.com") +
                  "/dead answered HTTP 404; routing the short link"});
}

}  // namespace
}  // namespace linkferry
