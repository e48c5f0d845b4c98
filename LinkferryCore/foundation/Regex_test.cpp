#include "foundation/Regex.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace linkferry {
namespace {

using Options = Regex::Options;

std::string_view slice(std::string_view text, Regex::Range range) {
  return text.substr(range.begin, range.end - range.begin);
}

TEST(RegexCompile, BadPatternsGiveNothingAndTheirICUError) {
  EXPECT_FALSE(Regex::compile("(abc"));
  EXPECT_EQ(Regex::compileError("(abc"), "U_REGEX_MISMATCHED_PAREN");
  EXPECT_EQ(Regex::compileError("*a"), "U_REGEX_RULE_SYNTAX");
  EXPECT_EQ(Regex::compileError("[ab"), "U_REGEX_MISSING_CLOSE_BRACKET");
  EXPECT_FALSE(Regex::compileError("^https?://"));
  ASSERT_TRUE(Regex::compile("a+b", Options::caseInsensitive));
  EXPECT_EQ(Regex::compile("a+b")->pattern(), "a+b");
}

TEST(RegexMatch, CaseInsensitiveCoversNonASCII) {
  const auto regex = Regex::compile("straße|ÉCOLE|σίσυφος", Options::caseInsensitive);
  ASSERT_TRUE(regex);
  EXPECT_TRUE(regex->matches("die STRASSE"));  // full case folding
  EXPECT_TRUE(regex->matches("l'école"));
  EXPECT_TRUE(regex->matches("ΣΊΣΥΦΟΣ"));
  EXPECT_FALSE(Regex::compile("école")->matches("ÉCOLE"));
  // Unanchored: a match anywhere counts; anchors still anchor.
  EXPECT_TRUE(Regex::compile("b")->matches("abc"));
  EXPECT_FALSE(Regex::compile("^b")->matches("abc"));
}

TEST(RegexMatch, RangesAreByteOffsetsOfTheUTF8Text) {
  struct Case {
    std::string_view pattern;
    std::string_view text;
    std::string_view whole;
    std::vector<std::optional<std::string_view>> groups;
  };
  const Case cases[] = {
      {"(b+)", "abbc", "bb", {"bb"}},
      {"(ü+)(x)?B", "😀aÜüB", "üB", {"ü", std::nullopt}},
      {"(?i)(ü+)(x)?B", "😀aÜüB", "ÜüB", {"Üü", std::nullopt}},
      {"(.)(.)$", "a👍🏽", "👍🏽", {"👍", "🏽"}},  // one character, two code points
      {"é", "e\u0301é", "é", {}},
      {"x", "\xFF\xFEx", "x", {}},  // invalid bytes keep their own width
  };
  for (const auto& [pattern, text, whole, groups] : cases) {
    SCOPED_TRACE(pattern);
    const auto regex = Regex::compile(pattern);
    ASSERT_TRUE(regex);
    const auto match = regex->firstMatch(text);
    ASSERT_TRUE(match);
    EXPECT_EQ(slice(text, match->range), whole);
    ASSERT_EQ(match->groups.size(), groups.size());
    for (std::size_t i = 0; i < groups.size(); ++i) {
      SCOPED_TRACE(i + 1);
      ASSERT_EQ(match->groups[i].has_value(), groups[i].has_value());
      if (groups[i]) {
        EXPECT_EQ(slice(text, *match->groups[i]), *groups[i]);
      }
    }
  }
  EXPECT_FALSE(Regex::compile("z")->firstMatch("abc"));
  const auto empty = Regex::compile("$")->firstMatch("ab");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->range, (Regex::Range{2, 2}));
}

TEST(RegexReplace, AppliesICUTemplates) {
  const auto regex = Regex::compile("(\\w+)@(\\w+)\\.test");
  ASSERT_TRUE(regex);
  EXPECT_EQ(regex->replacingAll("ann@a.test, bob@b.test", "$2:$1 \\$"), "a:ann $, b:bob $");
  EXPECT_EQ(regex->replacingAll("nothing here", "$2"), "nothing here");
  // "$12" with two groups is group 1 followed by "2".
  EXPECT_EQ(regex->replacingAll("x@y.test", "$12"), "x2");
  const auto named = Regex::compile("(?<host>[a-z]+)\\.old");
  EXPECT_EQ(named->replacingAll("www.old/ü", "${host}.new"), "www.new/ü");
  EXPECT_EQ(Regex::compile("ä")->replacingAll("bär", "ae"), "baer");
}

TEST(RegexReplace, MalformedTemplatesGiveNothingEvenWithoutAMatch) {
  const auto regex = Regex::compile("(a)");
  ASSERT_TRUE(regex);
  for (std::string_view replacement : {"$9", "$", "x$y", "${nope}", "${open"}) {
    SCOPED_TRACE(replacement);
    EXPECT_FALSE(regex->replacingAll("a", replacement));
    EXPECT_FALSE(regex->replacingAll("zzz", replacement));
  }
}

TEST(RegexEscape, EscapedTextMatchesOnlyItself) {
  for (std::string_view text : {"a.b*c", "(x)[y]{z}|^$", "tail\\", "q\\Eend", "\\E\\Q", "ünï"}) {
    SCOPED_TRACE(text);
    const auto regex = Regex::compile(Regex::escaped(text));
    ASSERT_TRUE(regex);
    const auto match = regex->firstMatch(std::string("<") + std::string(text) + ">");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->range, (Regex::Range{1, 1 + text.size()}));
  }
  EXPECT_FALSE(Regex::compile(Regex::escaped("a.c"))->matches("abc"));
}

TEST(RegexSafety, CatastrophicBacktrackingGivesUpInsteadOfHanging) {
  const auto regex = Regex::compile("^(\\w+\\s?)*$");
  ASSERT_TRUE(regex);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(regex->matches(std::string(64, 'a') + "!"));
  // Bounded, with plenty of room for a slow sanitized build.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(RegexCache, SharesCompiledPatternsPerOptions) {
  const auto first = Regex::cached("^a+$");
  ASSERT_TRUE(first);
  EXPECT_EQ(Regex::cached("^a+$"), first);
  const auto insensitive = Regex::cached("^a+$", Options::caseInsensitive);
  ASSERT_TRUE(insensitive);
  EXPECT_NE(insensitive, first);
  EXPECT_FALSE(first->matches("AA"));
  EXPECT_TRUE(insensitive->matches("AA"));
  EXPECT_EQ(Regex::cached("(unclosed"), nullptr);
}

TEST(RegexCache, GivesTheSameResultsFromManyThreadsPastItsCapacity) {
  // Enough distinct patterns to empty the cache several times while threads search.
  std::atomic<int> wrong = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 800; ++i) {
        const std::string number = std::to_string((i * 7 + t * 13) % 1500);
        const std::string pattern = "^id-" + number + "(\\d*)$";
        const auto cached = Regex::cached(pattern, Options::caseInsensitive);
        const auto compiled = Regex::compile(pattern, Options::caseInsensitive);
        const std::string text = "ID-" + number + "42";
        if (!cached || !compiled) {
          ++wrong;
          continue;
        }
        const auto a = cached->firstMatch(text);
        const auto b = compiled->firstMatch(text);
        if (!a || !b || a->range != b->range || a->groups != b->groups) ++wrong;
        if (cached->matches("ID-x")) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST(RegexSubject, PreparedTextGivesTheSameResultsAsTheString) {
  const auto regex = Regex::compile("(ü+)(x)?-(\\d+)", Options::caseInsensitive);
  ASSERT_TRUE(regex);
  for (std::string_view text : {"pre ÜÜü-42 post", "ascii only", "\xff\xfeü-7", "𝄞ü-1"}) {
    SCOPED_TRACE(text);
    const Regex::Subject subject(text);
    EXPECT_EQ(regex->matches(subject), regex->matches(text));
    const auto prepared = regex->firstMatch(subject);
    const auto plain = regex->firstMatch(text);
    ASSERT_EQ(prepared.has_value(), plain.has_value());
    if (!prepared) continue;
    EXPECT_EQ(prepared->range, plain->range);
    EXPECT_EQ(prepared->groups, plain->groups);
  }
}

TEST(RegexSubject, OneSubjectServesManyPatternsAndOutlivesNone) {
  // Matchers are reused between searches: each must forget the text of the last one, which is
  // gone by the time the next search starts (the sanitizers would see a stale read).
  const auto regex = Regex::compile("b+");
  ASSERT_TRUE(regex);
  for (int round = 0; round < 3; ++round) {
    auto subject = std::make_unique<Regex::Subject>("a" + std::string(50 + round, 'b') + "c");
    ASSERT_TRUE(regex->firstMatch(*subject));
    EXPECT_EQ(regex->firstMatch(*subject)->range, (Regex::Range{1, 51u + round}));
    subject.reset();
    EXPECT_FALSE(regex->matches("xyz"));
  }
  const Regex::Subject link("https://shop.example.com/items/7?ref=x");
  int found = 0;
  for (int i = 0; i < 20; ++i) {
    found += Regex::cached("/items/" + std::to_string(i) + "(\\?|$)")->matches(link) ? 1 : 0;
  }
  EXPECT_EQ(found, 1);
}

TEST(RegexSubject, OnePatternSearchedFromManyThreadsAtOnce) {
  // Many threads searching the same compiled pattern, which keeps one matcher between searches.
  const auto regex = Regex::compile("^(\\w+)-(\\d+)$");
  ASSERT_TRUE(regex);
  std::atomic<int> wrong = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        const std::string word(static_cast<std::size_t>(1 + (i + t) % 9), 'w');
        const std::string text = word + "-" + std::to_string(i);
        const auto match = regex->firstMatch(Regex::Subject(text));
        if (!match || match->groups.size() != 2 || !match->groups[0] ||
            match->groups[0]->end != word.size() || match->range.end != text.size()) {
          ++wrong;
        }
        if (regex->matches(text + " ")) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace linkferry
