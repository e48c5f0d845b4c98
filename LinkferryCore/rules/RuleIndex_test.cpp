#include "rules/RuleIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "routing/RouteTarget.h"
#include "rules/URLRewriter.h"

namespace linkferry {
namespace {

// Draws conditions and links from small, overlapping vocabularies, so that many rules match many
// links: hosts in several cases and scripts, "*." domains and other globs, paths around the index's
// key length, queries, apps, window titles, networks and regular expressions with and without
// plain text in them, nested in all, any and not.
class Draw {
 public:
  explicit Draw(unsigned seed) : m_random(seed) {}

  Matcher matcher(int depth = 0) {
    const int kind = pick(depth < 3 ? 13 : 10);
    switch (kind) {
      case 0:
        return Matcher::host(
            one({"example.com", "EXAMPLE.com", "www.example.com", "*.example.com", "*.EXAMPLE.COM",
                 "*example.com", "*.com", "*.", "*", "w?w.example.com", "*.example.*", "münchen.de",
                 "*.MÜNCHEN.de", "straße.de", "*.co.uk", "10.0.0.1", "localhost", "a.b.example.com",
                 ""}));
      case 1:
        return Matcher::hostRegex(one({"^www\\.",         "example\\.com$", "(",
                                       "münchen",         "EXAMPLE",        "^ex(am)ple\\.com$",
                                       "shop|www",        "\\x41",          "[a-z]+\\.de",
                                       "stra(ss|ß)e",     "exam.le",        "examp?le",
                                       "\\Qexample\\E",   "(?x) exa mple",  "localhost",
                                       "\\.co\\.uk$",     "shops?\\.co",    "strasse",
                                       "kiel\\.de",       "exa{1,2}mple",   "^www\\.ex",
                                       "examples?\\.com", "[]shopx]ample"}));
      case 2:
        return Matcher::pathPrefix(
            one({"", "/", "/docs", "/docs/", "/Docs", "/caf", "/café", "/cafe", "/a/b/c/d/e/f/g/h",
                 "/a/b/c/d/e/f/g/h/i/j/k/l", "/a/b/c/d/e/f/g/h/X", "/~user"}));
      case 3:
        return Matcher::urlRegex(one({"docs", "/DOCS/", "id=1", "\\?v=", "^https://www\\.example",
                                      "example\\.com/docs", "[?&]q=", "mailto:", "user%40", "café",
                                      "(docs|wiki)/", "a/b/c/d", "\\bid\\b", "exa\\Qmple\\E"}));
      case 4:
        return Matcher::scheme(one({"https", "HTTP", "mailto", "ftp", "zoommtg"}));
      case 5: {
        std::optional<std::string> value;
        if (pick(2)) value = one({"1", "2", "a+b", " ", ""});
        return Matcher::query(one({"id", "ID", "q", "v", "x"}), value);
      }
      case 6:
        return Matcher::sourceApp(one({"com.apple.safari", "COM.APPLE.SAFARI",
                                       "com.tinyspeck.slackmacgap", "äpp.x", "ÄPP.X"}));
      case 7:
        return Matcher::sourceWindow(one({"acme", "ACME", "slack|teams", "—", "project-\\d+",
                                          "general \\| acme", "thunderbird"}));
      case 8:
        return Matcher::network(one({"Home", "home", "Office", "café"}));
      case 9: {
        TimeWindow window;
        window.start = one({"09:00", "22:00", "24:00"});
        window.end = one({"17:00", "06:00"});
        if (pick(2)) window.days = std::vector<std::int64_t>{1 + pick(7)};
        return Matcher::timeWindow(window);
      }
      case 10:
        return Matcher::all(members(depth));
      case 11:
        return Matcher::any(members(depth));
      default:
        return Matcher::not_(matcher(depth + 1));
    }
  }

  LinkRequest link() {
    std::string text;
    if (pick(8) == 0) {
      text = one({"mailto:someone@example.com", "zoommtg:join?id=1", "file:///docs/a"});
    } else {
      text = one({"https://", "http://", "HTTPS://", "ftp://"});
      text += one({"example.com", "www.example.com", "Example.COM", "a.b.example.com",
                   "notexample.com", "münchen.de", "www.MÜNCHEN.de", "straße.de", "shop.co.uk",
                   "10.0.0.1", "localhost", "example.com.", "wxw.example.com",
                   "user%40@example.com", "\u212Aiel.de", "kiel.de"});
      text += one({"", "/", "/docs", "/docs/x", "/Docs/a", "/café", "/cafe%CC%81/x", "/~user",
                   "/a/b/c/d/e/f/g/h/i/j/k/l/m", "/a/b/c/d/e/f/g/h/X"});
      text += one({"", "?id=1", "?id", "?ID=2&x=y", "?q=a+b", "?v=%20", "?id=1&id=2"});
    }
    auto url = URL::parse(text);
    EXPECT_TRUE(url) << text;
    std::optional<std::string> app, window;
    if (pick(3)) app = one({"com.apple.Safari", "com.tinyspeck.slackmacgap", "Äpp.x", "org.x"});
    if (pick(3)) window = one({"general | Acme", "Inbox — Thunderbird", "project-12 | Slack", ""});
    return LinkRequest(*url, app, window, Date{0});
  }

  std::set<std::string> networks() {
    std::set<std::string> names;
    for (const char* name : {"Home", "Office", "café"}) {
      if (pick(2)) names.insert(name);
    }
    return names;
  }

  int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(m_random); }

 private:
  std::string one(std::initializer_list<const char*> choices) {
    return *(choices.begin() + pick(static_cast<int>(choices.size())));
  }
  std::vector<Matcher> members(int depth) {
    std::vector<Matcher> list;
    for (int i = 0, n = pick(4); i < n; ++i) list.push_back(matcher(depth + 1));
    return list;
  }

  std::mt19937 m_random;
};

// Walking the index's candidates finds exactly the rules that walking every rule finds, in the
// same order: the first match (the rule that decides) and every later one. Rewriting through the
// index (where each rewrite changes what later rules see) ends with the same link and steps, and
// the rule behind a decision is the same.
TEST(RuleIndex, FindsWhatThePlainWalkFinds) {
  const BrowserTarget kTargets[] = {BrowserTarget{.browser = "firefox",
                                                  .profile = std::nullopt,
                                                  .container = std::nullopt,
                                                  .privateMode = false},
                                    BrowserTarget{.browser = "firefox",
                                                  .profile = std::nullopt,
                                                  .container = std::nullopt,
                                                  .privateMode = true}};
  Draw draw(20261208);
  RuleSet set;
  std::vector<Rule>& rules = set.rules;
  for (int i = 0; i < 2000; ++i) {
    RuleActionKind action = RuleActionKind::ignore();
    switch (draw.pick(25)) {
      case 2:
      case 3:
      case 4:
        action = RuleActionKind::open(kTargets[i % 2]);
        break;
      case 5:
        action = RuleActionKind::openInApp("com.x");
        break;
      case 0:
        action = RuleActionKind::rewrite(URLRewrite::host("www.example.com"));
        break;
      case 1:
        action = RuleActionKind::rewrite(URLRewrite::regex("example\\.com", "example.org"));
        break;
      default:
        break;
    }
    rules.push_back(Rule{.id = std::to_string(i),
                         .name = std::to_string(i),
                         .enabled = true,
                         .match = draw.matcher(),
                         .action = RuleAction{.kind = action},
                         .expiresAt = std::nullopt});
  }
  const RuleIndex index(rules);
  std::size_t matchedLinks = 0, rewrittenLinks = 0, decidedLinks = 0, skipped = 0;
  for (int i = 0; i < 400; ++i) {
    const LinkRequest request = draw.link();
    const RoutingContext context(std::nullopt, std::nullopt, draw.networks(),
                                 Date{1'796'000'000.0 + draw.pick(7 * 86400)},
                                 *Calendar::withTimeZone("UTC"));
    const RuleEvaluator::Subject subject(request, context);
    std::vector<std::size_t> plain, indexed;
    for (std::size_t position = 0; position < rules.size(); ++position) {
      if (RuleEvaluator::matches(rules[position].match, subject)) plain.push_back(position);
    }
    RuleIndex::Candidates candidates = index.candidates(subject);
    std::size_t looked = 0;
    while (const auto position = candidates.next()) {
      ++looked;
      if (RuleEvaluator::matches(rules[*position].match, subject)) indexed.push_back(*position);
    }
    if (indexed != plain) {
      std::vector<std::size_t> missed;
      std::set_difference(plain.begin(), plain.end(), indexed.begin(), indexed.end(),
                          std::back_inserter(missed));
      FAIL() << request.url.absoluteString() << " from " << request.sourceApp.value_or("-")
             << " in " << request.sourceWindow.value_or("-") << ": left out "
             << (missed.empty() ? "nothing" : rules[missed.front()].match.json());
    }
    const URLRewriter::Result rewritten = URLRewriter::apply(set, request, context);
    const URLRewriter::Result rewrittenByIndex = URLRewriter::apply(set, index, request, context);
    EXPECT_EQ(rewrittenByIndex.url, rewritten.url);
    EXPECT_EQ(rewrittenByIndex.steps, rewritten.steps);
    for (const RouteTarget& target :
         {RouteTarget::open(kTargets[0]), RouteTarget::open(kTargets[1]),
          RouteTarget::openInApp("com.x")}) {
      const std::optional<Rule> deciding = set.decidingRule(target, request, context);
      EXPECT_EQ(set.decidingRule(target, request, context, index), deciding);
      decidedLinks += deciding.has_value();
    }
    matchedLinks += !plain.empty();
    rewrittenLinks += !rewritten.steps.empty();
    skipped += rules.size() - looked;
  }
  // The draw is worth something only if links match and the index leaves rules out.
  EXPECT_GT(matchedLinks, 300u);
  EXPECT_GT(rewrittenLinks, 100u);
  EXPECT_GT(decidedLinks, 300u);
  EXPECT_GT(skipped, 400u * 200u);
}

}  // namespace
}  // namespace linkferry
