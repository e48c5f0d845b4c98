#include "rules/RuleSet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "foundation/Files.h"
#include "foundation/Regex.h"
#include "foundation/Text.h"
#include "foundation/Uuid.h"
#include "routing/LinkRequest.h"
#include "routing/RouteTarget.h"
#include "routing/RoutingContext.h"
#include "rules/RuleSetError.h"
#include "support/TestSupport.h"

namespace linkferry {
namespace {

using testing::TemporaryDirectory;

// Rule-file text around one rule object.
std::string fileWithRule(const std::string& rule) {
  return R"({"version": 1, "rules": [)" + rule + "]}";
}

BrowserTarget target(std::string browser, std::optional<std::string> profile = std::nullopt,
                     bool privateMode = false) {
  return BrowserTarget{.browser = std::move(browser),
                       .profile = std::move(profile),
                       .container = std::nullopt,
                       .privateMode = privateMode};
}

RuleSet decoded(const std::string& text) {
  return RuleSet::decode(text, "rules.json");
}

// The text of the JsonError a decode raises; empty when it does not fail that way.
std::string decodeError(const std::string& text) {
  try {
    decoded(text);
  } catch (const JsonError& error) {
    return error.what();
  }
  return "";
}

// ---- Generated rule sets: every matcher case nested, every action kind, optional fields. ----

class RuleGenerator {
 public:
  explicit RuleGenerator(unsigned seed) : m_random(seed) {}

  RuleSet ruleSet() {
    RuleSet set{.version = pick(3) == 0 ? 0 : RuleSet::currentVersion, .rules = {}};
    for (int i = 0, n = pick(5); i < n; ++i) set.rules.push_back(rule());
    return set;
  }

  Rule rule() {
    return Rule{
        .id = pick(2) ? Uuid::random().string() : text(),
        .name = text(),
        .enabled = pick(2) == 0,
        .match = matcher(3),
        .action = action(),
        // Whole seconds: the file keeps no fractions.
        .expiresAt = pick(3) == 0 ? std::optional(Date{double(1'700'000'000 + pick(100'000'000))})
                                  : std::nullopt,
    };
  }

  Matcher matcher(int depth) {
    int kind = pick(depth > 0 ? 13 : 10);
    switch (kind) {
      case 0:
        return Matcher::host(text());
      case 1:
        return Matcher::hostRegex(text());
      case 2:
        return Matcher::pathPrefix(text());
      case 3:
        return Matcher::urlRegex(text());
      case 4:
        return Matcher::scheme(text());
      case 5:
        return Matcher::query(text(), optionalText());
      case 6:
        return Matcher::sourceApp(text());
      case 7:
        return Matcher::sourceWindow(text());
      case 8:
        return Matcher::network(text());
      case 9: {
        TimeWindow window{.days = std::nullopt, .start = text(), .end = text()};
        if (pick(2)) {
          window.days.emplace();
          for (int i = 0, n = pick(4); i < n; ++i) window.days->push_back(pick(11) - 2);
        }
        return Matcher::timeWindow(window);
      }
      case 10:
        return Matcher::all(members(depth));
      case 11:
        return Matcher::any(members(depth));
      default:
        return Matcher::not_(matcher(depth - 1));
    }
  }

  RuleAction action() {
    RuleAction action{.kind = kind(),
                      .preferExistingTab = pick(2) == 0,
                      .newWindow = optionalFlag(),
                      .background = optionalFlag()};
    return action;
  }

 private:
  int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(m_random); }

  std::string text() {
    static const std::vector<std::string> pieces = {"a",  "Z",  "*",  "?",       ".",  "/",
                                                    "\\", "\"", "é",  "e\u0301", "🇩🇪", "09:00",
                                                    " ",  "[",  "$1", "-",       ""};
    std::string result;
    for (int i = 0, n = pick(6); i < n; ++i) result += pieces[pick(int(pieces.size()))];
    return result;
  }
  std::optional<std::string> optionalText() {
    return pick(2) ? std::optional(text()) : std::nullopt;
  }
  std::optional<bool> optionalFlag() {
    int value = pick(3);
    return value == 0 ? std::nullopt : std::optional(value == 1);
  }

  std::vector<Matcher> members(int depth) {
    std::vector<Matcher> list;
    for (int i = 0, n = pick(4); i < n; ++i) list.push_back(matcher(depth - 1));
    return list;
  }

  BrowserTarget target() {
    return BrowserTarget{.browser = text(),
                         .profile = optionalText(),
                         .container = optionalText(),
                         .privateMode = pick(2) == 0};
  }

  RuleActionKind kind() {
    switch (pick(5)) {
      case 0:
        return RuleActionKind::open(target());
      case 1: {
        std::vector<BrowserTarget> targets;
        for (int i = 0, n = pick(3); i < n; ++i) targets.push_back(target());
        return RuleActionKind::prompt(targets);
      }
      case 2:
        return RuleActionKind::openInApp(text());
      case 3: {
        switch (pick(3)) {
          case 0:
            return RuleActionKind::rewrite(URLRewrite::host(text()));
          case 1:
            return RuleActionKind::rewrite(URLRewrite::regex(text(), text()));
          default:
            return RuleActionKind::rewrite(URLRewrite::stripPrefix(text()));
        }
      }
      default:
        return RuleActionKind::ignore();
    }
  }

  std::mt19937 m_random;
};

TEST(RuleSetFile, GeneratedSetsSurviveSaveAndLoadAndSaveIdentically) {
  TemporaryDirectory folder;
  const auto file = folder.path() / "nested" / "rules.json";
  RuleGenerator generator(20261207);
  std::array<int, Matcher::kKindCount> seen{};
  for (int round = 0; round < 300; ++round) {
    RuleSet original = generator.ruleSet();
    std::function<void(const Matcher&)> count = [&](const Matcher& matcher) {
      ++seen[matcher.value().index()];
      if (auto* all = std::get_if<Matcher::All>(&matcher.value()))
        for (auto& m : all->members) count(m);
      if (auto* any = std::get_if<Matcher::Any>(&matcher.value()))
        for (auto& m : any->members) count(m);
      if (auto* negation = std::get_if<Matcher::Not>(&matcher.value())) count(*negation->member);
    };
    for (const Rule& rule : original.rules) count(rule.match);

    const std::string firstText = original.encode();
    RuleSet loaded = RuleSet::decode(firstText, "rules.json");
    ASSERT_EQ(loaded, original) << firstText;
    EXPECT_EQ(std::hash<RuleSet>()(loaded), std::hash<RuleSet>()(original));
    ASSERT_EQ(loaded.encode(), firstText);
    // Through the disk now and then (each save syncs to disk, which is slow).
    if (round % 30 == 0) {
      original.save(file);
      ASSERT_EQ(Files::read(file), firstText);
      ASSERT_EQ(RuleSet::load(file), original);
    }
  }
  for (std::size_t kind = 0; kind < seen.size(); ++kind) {
    EXPECT_GT(seen[kind], 0) << "matcher case " << Matcher::key(Matcher::Kind(kind))
                             << " never generated";
  }
}

TEST(RuleSetFile, WritesSortedKeysInFileOrderAndOnlyTheSetOptions) {
  RuleSet set{.version = 1, .rules = {}};
  set.rules.push_back(Rule{.id = "B",
                           .name = "second/first",
                           .enabled = false,
                           .match = Matcher::host("*.example.com"),
                           .action = RuleAction{.kind = RuleActionKind::ignore(),
                                                .preferExistingTab = false,
                                                .newWindow = false,
                                                .background = std::nullopt},
                           .expiresAt = std::nullopt});
  set.rules.push_back(
      Rule{.id = "A",
           .name = "regex",
           .enabled = true,
           .match = Matcher::query("q"),
           .action = RuleAction{.kind = RuleActionKind::rewrite(URLRewrite::regex("x", "")),
                                .preferExistingTab = true,
                                .newWindow = std::nullopt,
                                .background = true},
           .expiresAt = std::nullopt});
  EXPECT_EQ(set.encode(), R"({
  "rules": [
    {
      "action": {
        "ignore": true,
        "newWindow": false
      },
      "enabled": false,
      "id": "B",
      "match": {
        "host": "*.example.com"
      },
      "name": "second/first"
    },
    {
      "action": {
        "background": true,
        "preferExistingTab": true,
        "rewrite": {
          "regex": "x",
          "replacement": ""
        }
      },
      "enabled": true,
      "id": "A",
      "match": {
        "query": {
          "key": "q"
        }
      },
      "name": "regex"
    }
  ],
  "version": 1
}
)");
}

TEST(RuleSetFile, FillsDefaults) {
  RuleSet set = decoded(fileWithRule(R"({"name": "n", "match": {"scheme": "mailto"},
      "action": {"ignore": false}})"));
  ASSERT_EQ(set.rules.size(), 1u);
  const Rule& rule = set.rules[0];
  EXPECT_TRUE(rule.enabled);
  EXPECT_TRUE(Uuid::parse(rule.id)) << rule.id;
  EXPECT_EQ(rule.id, Uuid::parse(rule.id)->string()) << "canonical upper-case form";
  EXPECT_FALSE(rule.expiresAt);
  EXPECT_TRUE(rule.action.kind.isIgnore());
  EXPECT_FALSE(rule.action.preferExistingTab);
  EXPECT_FALSE(rule.action.newWindow);
  EXPECT_FALSE(rule.action.background);

  RuleSet again = decoded(fileWithRule(R"({"name": "n", "match": {"scheme": "mailto"},
      "action": {"ignore": {}}})"));
  EXPECT_NE(again.rules[0].id, rule.id) << "a missing id is new on every load";
}

TEST(RuleSetFile, ReadsTheGrammarsChoices) {
  struct Case {
    const char* rule;
    std::function<bool(const Rule&)> check;
  };
  const Case cases[] = {
      {R"({"name": "n", "match": {"host": "a", "comment": 1}, "action": {"ignore": 1}})",
       [](const Rule& r) { return r.match == Matcher::host("a"); }},
      {R"({"name": "n", "match": {"host": "a"}, "action": {"open": {"browser": "b"}, "newWindow": true, "extra": 1}})",
       [](const Rule& r) {
         return r.action.kind == RuleActionKind::open(target("b")) && r.action.newWindow == true;
       }},
      {R"({"name": "n", "match": {"host": "a"}, "action": {"rewrite": {"regex": "r", "host": "h"}}})",
       [](const Rule& r) {
         return r.action.kind == RuleActionKind::rewrite(URLRewrite::host("h"));
       }},
      {R"({"name": "n", "match": {"host": "a"}, "action": {"rewrite": {"regex": "r"}}})",
       [](const Rule& r) {
         return r.action.kind == RuleActionKind::rewrite(URLRewrite::regex("r", ""));
       }},
      {R"({"name": "n", "match": {"host": "a"}, "action": {"rewrite": {"stripPrefix": "p", "replacement": "x"}}})",
       [](const Rule& r) {
         return r.action.kind == RuleActionKind::rewrite(URLRewrite::stripPrefix("p"));
       }},
      {R"({"name": "n", "match": {"not": {"any": []}}, "action": {"prompt": []}})",
       [](const Rule& r) { return r.match == Matcher::not_(Matcher::any({})); }},
      {R"({"name": "n", "match": {"timeWindow": {"start": "x", "end": "y", "days": [0, 99]}}, "action": {"openInApp": "app"}})",
       [](const Rule& r) {
         return r.match == Matcher::timeWindow(TimeWindow{
                               .days = std::vector<std::int64_t>{0, 99}, .start = "x", .end = "y"});
       }},
      {R"({"name": "n", "match": {"query": {"key": "k", "value": null}}, "action": {"ignore": null}, "expiresAt": "2026-03-29T03:30:00+02:00"})",
       [](const Rule& r) {
         return r.match == Matcher::query("k") && r.expiresAt == Date{1774747800};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    RuleSet set = decoded(fileWithRule(c.rule));
    ASSERT_EQ(set.rules.size(), 1u);
    EXPECT_TRUE(c.check(set.rules[0]));
  }
}

TEST(RuleSetFile, RefusesMalformedRulesWithTheKeyPath) {
  const std::string ok = R"({"name": "ok", "match": {"host": "a"}, "action": {"ignore": true}})";
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {fileWithRule(
           ok +
           R"(, {"name": "n", "match": {"all": [{"host": "a", "scheme": "b"}]}, "action": {"ignore": 1}})"),
       R"(rules.json: rules[1].match.all[0]: A matcher needs exactly one known key, got ["host", "scheme"])"},
      {fileWithRule(R"({"name": "n", "match": {"comment": "x"}, "action": {"ignore": 1}})"),
       "rules.json: rules[0].match: A matcher needs exactly one known key, got [] (unknown key "
       "\"comment\")"},
      {fileWithRule(R"({"name": "n", "match": {"not": {"hots": "a", "shceme": "b"}}, "action": {"ignore": 1}})"),
       "rules.json: rules[0].match.not: A matcher needs exactly one known key, got [] (unknown "
       "keys \"hots\", \"shceme\")"},
      {fileWithRule(R"({"name": "n", "match": {}, "action": {"ignore": 1}})"),
       "rules.json: rules[0].match: A matcher needs exactly one known key, got []"},
      {fileWithRule(
           R"({"name": "n", "match": {"not": {"scheme": "s", "timeWindow": {}, "host": "h"}}, "action": {"ignore": 1}})"),
       R"(rules.json: rules[0].match.not: A matcher needs exactly one known key, got ["host", "scheme", "timeWindow"])"},
      {fileWithRule(R"({"name": "n", "match": {"host": "a"}, "action": {"newWindow": true}})"),
       "rules.json: rules[0].action: An action needs exactly one of open, prompt, openInApp, "
       "ignore, rewrite"},
      {fileWithRule(
           R"({"name": "n", "match": {"host": "a"}, "action": {"open": {"browser": "b"}, "ignore": true}})"),
       "rules.json: rules[0].action: An action needs exactly one of open, prompt, openInApp, "
       "ignore, rewrite"},
      {fileWithRule(
           R"({"name": "n", "match": {"host": "a"}, "action": {"rewrite": {"replacement": "x"}}})"),
       "rules.json: rules[0].action.rewrite: A rewrite needs one of host, regex (+ replacement), "
       "stripPrefix"},
      {fileWithRule(
           R"({"name": "n", "match": {"host": "a"}, "action": {"ignore": 1}, "expiresAt": "2026-12-24"})"),
       "rules.json: rules[0].expiresAt: expiresAt must be an ISO 8601 date, got 2026-12-24"},
      {fileWithRule(
           R"({"name": "n", "match": {"host": "a"}, "action": {"ignore": 1}, "expiresAt": "2026-12-24T10:00:00.5Z"})"),
       "rules.json: rules[0].expiresAt: expiresAt must be an ISO 8601 date, got "
       "2026-12-24T10:00:00.5Z"},
      {fileWithRule(
           R"({"name": "n", "match": {"host": "a"}, "action": {"ignore": 1}, "expiresAt": "2026-13-24T10:00:00Z"})"),
       "rules.json: rules[0].expiresAt: expiresAt must be an ISO 8601 date, got "
       "2026-13-24T10:00:00Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(decodeError(c.text), c.error);
  }

  // The reader's own errors for wrong types and missing keys, still with their paths.
  const std::string typeErrors[] = {
      fileWithRule(R"({"match": {"host": "a"}, "action": {"ignore": 1}})"),
      fileWithRule(R"({"name": "n", "match": {"host": 1}, "action": {"ignore": 1}})"),
      fileWithRule(R"({"name": "n", "match": {"any": {"host": "a"}}, "action": {"ignore": 1}})"),
      fileWithRule(
          R"({"name": "n", "match": {"host": "a"}, "action": {"open": {"profile": "p"}}})"),
      fileWithRule(
          R"({"name": "n", "enabled": "yes", "match": {"host": "a"}, "action": {"ignore": 1}})"),
      R"({"rules": []})",
      R"({"version": 1})",
      R"({"version": 1, "rules": [)",
  };
  for (const std::string& text : typeErrors) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(Text::startsWith(decodeError(text), "rules.json: ")) << decodeError(text);
  }
}

// Decoding without notes takes the file one rule at a time; with notes it reads the whole document.
// Both must give the same set, or the same error, for any text: layouts the rule-at-a-time reading
// must see through, and texts it must not take for rule files.
TEST(RuleSetFile, DecodesRuleByRuleAsTheWholeDocumentDoes) {
  auto outcome = [](const std::string& text, bool whole) -> std::string {
    RuleSet::LoadNotes notes;
    try {
      return RuleSet::decode(text, "rules.json", whole ? &notes : nullptr).encode();
    } catch (const std::exception& error) {
      return std::string("error: ") + error.what();
    }
  };
  const std::string a = R"({"id": "A", "name": "a, [b] {c} \"d\\", "match": {"host": "a"},
                          "action": {"ignore": true}, "rules": [1, 2]})";
  const std::string b = R"({"id": "B", "name": "b", "match": {"any": [{"host": "x"}, {"not":
                          {"pathPrefix": "/]"}}]}, "action": {"open": {"browser": "f"}}})";
  std::string deepNot = R"({"host": "a"})";
  for (int i = 0; i < 510; ++i) deepNot = R"({"not": )" + deepNot + "}";
  const std::string texts[] = {
      // Read alike.
      "{\"version\": 1, \"rules\": [" + a + ", " + b + "]}",
      "\n\t{ \"rules\" :\r\n[ " + a + "\n,\n" + b + " ] , \"version\":1 }\n",
      R"({"other": {"rules": [{"x": 1}], "list": [1, [2, "]"]]}, "rules": [], "version": 1})",
      R"({"version": 1, "rules": [ ]})",
      R"({"version": 0, "rules": [)" + a + "]}",
      // Refused alike, each for its own reason and with its own position or key path.
      R"({"version": 1, "rules": [)" + a + R"(,, )" + b + "]}",
      R"({"version": 1, "rules": [)" + a + "]} trailing",
      R"({"version": 1, "rules": [)" + a + "], \"rules\": []}",
      R"({"version": 1, "rules": [], "rul\u0065s": [)" + a + "]}",
      R"({"version": 1, "rules": [)" + a + R"(], "rul\u0065s": []})",
      R"({"version": 1, "rules": {"0": )" + a + "}}",
      R"({"version": 1, "rules": [)" + a + R"(, {"name": 1}, {]})",
      R"({"rules": [{"name": 1}], "version": 2})",
      R"({"rules": [{"name": 1}]})",
      R"({"rules": [)" + a + "], \"version\": \"1\"}",
      "\xEF\xBB\xBF{\"version\": 1, \"rules\": [" + a + "]}",
      "{\"version\": 1, \"rules\": [\xEF\xBB\xBF" + a + "]}",
      R"([{"version": 1, "rules": []}])",
      std::string(600, '[') + std::string(600, ']'),
      // Within the reader's depth limit as a rule alone, past it inside the file.
      R"({"version": 1, "rules": [{"id": "D", "name": "deep", "action": {"ignore": 1}, "match": )" +
          deepNot + "}]}",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(outcome(text, false), outcome(text, true));
  }
  EXPECT_EQ(RuleSet::decode(texts[1], "rules.json").rules.size(), 2u);
}

TEST(RuleSetFile, RefusesNewerVersionsOnly) {
  try {
    decoded(R"({"version": 2, "rules": []})");
    ADD_FAILURE() << "version 2 loaded";
  } catch (const RuleSetError& error) {
    EXPECT_EQ(error.version(), 2);
    EXPECT_STREQ(error.what(), "rules.json version 2 is newer than this LinkFerry understands");
  }
  // Refused before the rest is read: a newer grammar is not this one's to judge.
  EXPECT_THROW(decoded(R"({"version": 7, "rules": [{"future": true}]})"), RuleSetError);
  EXPECT_EQ(decoded(R"({"version": 0, "rules": []})").version, 0);
  EXPECT_EQ(decoded(R"({"version": -3, "rules": []})").version, -3);
}

TEST(RuleSetFile, MissingFileIsAnEmptySetAndIsNotCreated) {
  TemporaryDirectory folder;
  RuleSet set = RuleSet::load(folder.path() / "rules.json");
  EXPECT_EQ(set, RuleSet{});
  EXPECT_EQ(set.version, 1);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "rules.json"));
}

TEST(RuleSetFile, FailedLoadLeavesTheFileAlone) {
  TemporaryDirectory folder;
  const std::string text = fileWithRule(R"({"name": "n", "match": {}, "action": {"ignore": 1}})");
  auto file = folder.write("rules.json", text);
  EXPECT_THROW(RuleSet::load(file), JsonError);
  EXPECT_EQ(Files::read(file), text);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(RuleSetFile, ExpiryIsWrittenWithTheLocalOffsetAndReadsBackToTheSameInstant) {
  RuleSet set{.version = 1, .rules = {}};
  set.rules.push_back(Rule{.id = "x",
                           .name = "x",
                           .enabled = true,
                           .match = Matcher::any({}),
                           .action = RuleAction{.kind = RuleActionKind::ignore()},
                           .expiresAt = Date{1792000000}});
  JsonValue json = JsonValue::parse(set.encode());
  std::string written = json["rules"][0]["expiresAt"];
  EXPECT_EQ(written, RFC3339::format(Date{1792000000}, Calendar::current()));
  EXPECT_EQ(decoded(set.encode()), set);
}

// A save that cannot write leaves the old file as it was and says so. The write must really be
// refused: as root (CI) a read-only folder does not stop writes, so the save runs as "nobody".
TEST(RuleSetFile, SaveIntoReadOnlyFolderKeepsTheOldFile) {
  TemporaryDirectory folder;
  const auto data = folder.path() / "data";
  const std::string old = fileWithRule(
      R"({"id": "old", "name": "old", "match": {"host": "a"}, "action": {"ignore": true}})");
  std::filesystem::create_directories(data);
  { std::ofstream(data / "rules.json") << old; }
  std::filesystem::permissions(folder.path(), std::filesystem::perms(0755));
  std::filesystem::permissions(data, std::filesystem::perms(0555));
  std::filesystem::permissions(data / "rules.json", std::filesystem::perms(0644));

  if (geteuid() == 0) {
    const std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                std::string(LINKFERRY_RULES_SAVE_PROBE) + " " +
                                (data / "rules.json").string() + " 2>" +
                                (folder.path() / "stderr").string();
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "the probe should report the failed save";
    std::ifstream err(folder.path() / "stderr");
    std::stringstream message;
    message << err.rdbuf();
    EXPECT_NE(message.str().find("Permission denied"), std::string::npos) << message.str();
  } else {
    RuleSet set{.version = 1, .rules = {}};
    EXPECT_THROW(set.save(data / "rules.json"), std::system_error);
  }
  EXPECT_EQ(Files::read(data / "rules.json"), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data), {}), 1) << "no temporary left";
  std::filesystem::permissions(data, std::filesystem::perms(0755));
}

TEST(RuleSet, ALoadedSetKeepsEveryPatternCompiledPastTheCacheCapacity) {
  // 3,000 patterns, more than the pattern cache keeps by itself: in conditions, nested, and in
  // rewrites. One that does not compile is left out.
  std::vector<std::string> expressions, ruleTexts;
  for (int i = 0; i < 3000; ++i) {
    const std::string expression = "^p" + std::to_string(i) + "\\\\.test$";
    expressions.push_back(Text::replacingAll(expression, "\\\\", "\\"));
    switch (i % 3) {
      case 0:
        ruleTexts.push_back(R"({"name": "n", "match": {"hostRegex": ")" + expression +
                            R"("}, "action": {"ignore": 1}})");
        break;
      case 1:
        ruleTexts.push_back(R"({"name": "n", "match": {"all": [{"not": {"urlRegex": ")" +
                            expression + R"("}}]}, "action": {"ignore": 1}})");
        break;
      default:
        ruleTexts.push_back(R"({"name": "n", "match": {"host": "a"}, "action": {"rewrite": )"
                            R"({"regex": ")" +
                            expression + R"(", "replacement": "x"}}})");
        break;
    }
  }
  ruleTexts.push_back(
      R"({"name": "n", "match": {"sourceWindow": "(unclosed"}, "action": {"ignore": 1}})");
  const RuleSet set = decoded(R"({"version": 1, "rules": [)" + Text::join(ruleTexts, ",") + "]}");
  ASSERT_TRUE(set.compiledPatterns.held);
  const auto& held = *set.compiledPatterns.held;
  ASSERT_EQ(held.size(), expressions.size());
  for (std::size_t i = 0; i < expressions.size(); ++i) {
    ASSERT_TRUE(held[i]);
    EXPECT_EQ(held[i]->pattern(), expressions[i]);
    // Still the pattern compiled at load: evaluation never compiles it again.
    EXPECT_EQ(Regex::cached(expressions[i], Regex::Options::caseInsensitive), held[i]);
  }
  // The held patterns are no part of the value.
  RuleSet copy = set;
  copy.compiledPatterns = {};
  EXPECT_EQ(copy, set);
}

TEST(RuleSet, RemovingExpiredKeepsOrderVersionAndDisabledRules) {
  auto rule = [](std::string id, bool enabled, std::optional<Date> expiry) {
    return Rule{.id = id,
                .name = id,
                .enabled = enabled,
                .match = Matcher::all({}),
                .action = RuleAction{.kind = RuleActionKind::ignore()},
                .expiresAt = expiry};
  };
  const Date now{1000};
  RuleSet set{.version = 0,
              .rules = {rule("a", true, Date{999}), rule("b", false, std::nullopt),
                        rule("c", true, Date{1000}), rule("d", true, Date{1001}),
                        rule("e", false, Date{5})}};
  RuleSet kept = set.removingExpired(now);
  EXPECT_EQ(kept.version, 0);
  ASSERT_EQ(kept.rules.size(), 2u);
  EXPECT_EQ(kept.rules[0].id, "b");
  EXPECT_EQ(kept.rules[1].id, "d");
  EXPECT_FALSE(set.rules[1].isActive(now));
  EXPECT_FALSE(set.rules[1].isExpired(now));
  EXPECT_TRUE(set.rules[3].isActive(now));
  EXPECT_FALSE(set.rules[2].isActive(now)) << "expiry at exactly now";
}

TEST(RuleSet, DecidingRuleFindsTheFirstActiveMatchingRuleForTheTarget) {
  const BrowserTarget firefox = target("firefox");
  const BrowserTarget firefoxPrivate = target("firefox", std::nullopt, true);
  auto rule = [](std::string id, Matcher match, RuleActionKind kind, bool enabled = true,
                 std::optional<Date> expiry = std::nullopt) {
    return Rule{.id = id,
                .name = id,
                .enabled = enabled,
                .match = std::move(match),
                .action = RuleAction{.kind = std::move(kind)},
                .expiresAt = expiry};
  };
  RuleSet set{
      .version = 1,
      .rules = {
          rule("disabled", Matcher::host("*.a.test"), RuleActionKind::open(firefox), false),
          rule("expired", Matcher::host("*.a.test"), RuleActionKind::open(firefox), true, Date{10}),
          rule("private", Matcher::host("*.a.test"), RuleActionKind::open(firefoxPrivate)),
          rule("other host", Matcher::host("b.test"), RuleActionKind::open(firefox)),
          rule("prompt", Matcher::all({}), RuleActionKind::prompt({firefox})),
          rule("firefox", Matcher::host("*.a.test"), RuleActionKind::open(firefox)),
          rule("app", Matcher::all({}), RuleActionKind::openInApp("com.app")),
      }};
  const LinkRequest request(*URL::parse("https://www.a.test/x"), Date{});
  const RoutingContext context(std::nullopt, std::nullopt, {}, Date{100},
                               *Calendar::withTimeZone("UTC"));

  auto decided = [&](const RouteTarget& target) {
    auto found = set.decidingRule(target, request, context);
    return found ? found->id : std::string("none");
  };
  EXPECT_EQ(decided(RouteTarget::open(firefox)), "firefox");
  EXPECT_EQ(decided(RouteTarget::open(firefoxPrivate)), "private");
  EXPECT_EQ(decided(RouteTarget::open(target("firefox", ""))), "none");
  EXPECT_EQ(decided(RouteTarget::openInApp("com.app")), "app");
  EXPECT_EQ(decided(RouteTarget::openInApp("COM.APP")), "none");
  EXPECT_EQ(decided(RouteTarget::openLink(*URL::parse("x:y"), "com.app")), "none");
  EXPECT_EQ(decided(RouteTarget::ignore()), "none");
}

}  // namespace
}  // namespace linkferry

#include "rules/RuleAuthoring.h"

namespace linkferry {
namespace {

// The rules with their ids blanked: a rule written without one gets a new one on every load.
std::vector<Rule> withoutIds(RuleSet set) {
  for (Rule& rule : set.rules) rule.id.clear();
  return set.rules;
}

Rule rememberedRule(const std::string& host) {
  return Rule{.id = "R",
              .name = "Always open " + host + " in Firefox",
              .enabled = true,
              .match = Matcher::host(host),
              .action = RuleAction{.kind = RuleActionKind::open(BrowserTarget{"firefox"})},
              .expiresAt = std::nullopt};
}

// A rule remembered in the picker joins the user's file without rewriting what the user wrote:
// key order, omitted defaults, comments-by-layout and the version's place all stay.
TEST(RuleSetFileEdit, AddingARuleKeepsTheOtherRulesAsWritten) {
  const std::string hand = "{\n"
                           "    \"rules\" : [\n"
                           "        { \"action\": {\"open\": {\"browser\": \"chromium\", \"profile\": \"Work\"}},\n"
                           "          \"match\": {\"host\": \"*.corp.example\"}, \"name\": \"Work\" },\n"
                           "        {\"name\": \"Mail\", \"match\": {\"host\": \"mail.example\"},\n"
                           "         \"action\": {\"ignore\": true}, \"enabled\": false}\n"
                           "    ],\n"
                           "    \"version\": 1\n"
                           "}\n";
  const RuleSet stored = RuleSet::decode(hand, "rules.json");
  const Rule rule = rememberedRule("docs.example");
  const RuleSet changed = RuleAuthoring::adding(rule, stored, Date::now());
  const std::string edited = changed.encodeEditing(hand, stored);

  std::string canonical = Json::encodePretty(rule.toJson());
  canonical.pop_back();  // the final newline
  canonical = Text::replacingAll(canonical, "\n", "\n        ");
  const std::string expected = "{\n    \"rules\" : [\n        " + canonical + "," +
                               hand.substr(hand.find("\n        { \"action\""));
  EXPECT_EQ(edited, expected);
  EXPECT_EQ(withoutIds(RuleSet::decode(edited, "rules.json")), withoutIds(changed));
}

TEST(RuleSetFileEdit, CutRulesTakeTheirSeparatorAndOddFilesAreWrittenWhole) {
  const Date now = Date::now();
  // A rule for the same links is replaced, an expired one dropped; the survivor stays as written.
  const std::string text = R"({"version": 1, "rules": [{"name": "old", "match": {"host": "a.example"},)"
                           R"( "action": {"ignore": true}},   {"action": {"ignore": true}, "name": "gone",)"
                           R"( "match": {"host": "b.example"}, "expiresAt": "2001-01-01T00:00:00Z"},)"
                           R"( {"match": {"host": "c.example"},"name":"kept","action":{"ignore":true}}]})";
  const RuleSet stored = RuleSet::decode(text, "rules.json");
  const RuleSet changed = RuleAuthoring::adding(rememberedRule("a.example"), stored, now);
  const std::string edited = changed.encodeEditing(text, stored);
  EXPECT_EQ(edited, R"({"version": 1, "rules": [)" +
                        Json::encodeCompact(rememberedRule("a.example").toJson()) +
                        R"(, {"match": {"host": "c.example"},"name":"kept","action":{"ignore":true}}]})");
  EXPECT_EQ(withoutIds(RuleSet::decode(edited, "rules.json")), withoutIds(changed));

  // An empty array gets the rule on a line of its own.
  const std::string empty = "{\n  \"version\": 1,\n  \"rules\": []\n}\n";
  const RuleSet none = RuleSet::decode(empty, "rules.json");
  const RuleSet first = RuleAuthoring::adding(rememberedRule("d.example"), none, now);
  const std::string added = first.encodeEditing(empty, none);
  EXPECT_TRUE(added.starts_with("{\n  \"version\": 1,\n  \"rules\": [\n    {\n      \"action\""))
      << added;
  EXPECT_TRUE(added.ends_with("\n    }\n  ]\n}\n")) << added;
  EXPECT_EQ(withoutIds(RuleSet::decode(added, "rules.json")), withoutIds(first));

  // A "rules" key written with an escape is not cut: the canonical text.
  const std::string twice = R"({"version": 1, "\u0072ules": []})";
  const RuleSet odd = RuleSet::decode(twice, "rules.json");
  const RuleSet oddChanged = RuleAuthoring::adding(rememberedRule("e.example"), odd, now);
  EXPECT_EQ(oddChanged.encodeEditing(twice, odd), oddChanged.encode());
}

}  // namespace
}  // namespace linkferry
