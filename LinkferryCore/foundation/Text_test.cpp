#include "foundation/Text.h"

#include <atomic>
#include <cmath>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace linkferry {
namespace {

TEST(TextCase, MapsFullUnicodeInTheRootLocale) {
  struct Case {
    std::string_view text, lower, upper;
  };
  const Case cases[] = {
      {"HTTPS://Example.COM", "https://example.com", "HTTPS://EXAMPLE.COM"},
      // The dotted capital I keeps its dot as a combining mark outside Turkish.
      {"İstanbul", "i\xCC\x87stanbul", "İSTANBUL"},
      // The dotless i upper-cases to a plain I, and a plain I lower-cases to a plain i.
      {"ıI", "ıi", "II"},
      // Full mapping changes lengths: sharp s upper-cases to two letters.
      {"Straße", "straße", "STRASSE"},
      {"ΣΊΣΥΦΟΣ", "σίσυφος", "ΣΊΣΥΦΟΣ"},
      {"ÀÉÎ", "àéî", "ÀÉÎ"},
  };
  for (const auto& [text, lower, upper] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Text::lowercased(text), lower);
    EXPECT_EQ(Text::uppercased(text), upper);
  }
  EXPECT_EQ(Text::lowercased("A\xFF"), "a\xEF\xBF\xBD");
  EXPECT_EQ(Text::asciiLowercased("ÀBC"), "Àbc");
}

TEST(TextTrim, EachSetTrimsItsOwnCharacters) {
  const std::string_view text = "\u2028\t \u00A0x y\u3000\n\r";
  EXPECT_EQ(Text::trimmed(text), "x y");
  EXPECT_EQ(Text::trimmed(text, Text::TrimSet::whitespace), text);
  EXPECT_EQ(Text::trimmed("\t \u00A0x y\u3000 \u0085", Text::TrimSet::whitespace),
            "x y\u3000 \u0085");
  EXPECT_EQ(Text::trimmed("\u00A0\t x \t\u00A0", Text::TrimSet::whitespace), "x");
  EXPECT_EQ(Text::trimmed("\u00A0\t x \t\u00A0", Text::TrimSet::spacesAndTabs),
            "\u00A0\t x \t\u00A0");
  EXPECT_EQ(Text::trimmed(" \t x\n \t", Text::TrimSet::spacesAndTabs), "x\n");
  // Zero-width space and invalid bytes are not white space.
  EXPECT_EQ(Text::trimmed("\u200Bx "), "\u200Bx");
  EXPECT_EQ(Text::trimmed(" \xFF "), "\xFF");
  EXPECT_TRUE(Text::isBlank(" \n\u2029\u00A0"));
  EXPECT_FALSE(Text::isBlank(" . "));
}

TEST(TextCharacters, CountsUserPerceivedCharacters) {
  struct Case {
    std::string_view text;
    std::size_t count;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 3},
      {"a\r\nb", 3},
      {"e\u0301", 1},                    // combining accent
      {"👍🏽", 1},                   // skin tone modifier
      {"🇩🇪🇫🇷", 2},                       // two flags
      {"👨‍👩‍👧‍👦", 1},  // family joined by zero-width joiners
      {"한국어", 3},
      {"\xFF\xFE", 2},  // invalid bytes still make progress
  };
  for (const auto& [text, count] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Text::characterCount(text), count);
    std::string joined;
    for (auto piece : Text::characters(text)) joined += piece;
    EXPECT_EQ(joined, text);
  }
  EXPECT_EQ(Text::characters("a👍🏽e\u0301"),
            (std::vector<std::string_view>{"a", "👍🏽", "e\u0301"}));
}

TEST(TextCharacters, PrefixAndSuffixNeverSplitACharacter) {
  const std::string_view text = "🇩🇪e\u0301x👍🏽";
  EXPECT_EQ(Text::prefix(text, 0), "");
  EXPECT_EQ(Text::prefix(text, 2), "🇩🇪e\u0301");
  EXPECT_EQ(Text::prefix(text, 9), text);
  EXPECT_EQ(Text::suffix(text, 1), "👍🏽");
  EXPECT_EQ(Text::suffix(text, 3), "e\u0301x👍🏽");
  EXPECT_EQ(Text::suffix(text, 4), text);
  EXPECT_EQ(Text::suffix(text, 0), "");
  EXPECT_EQ(Text::prefix("a\r\nb", 2), "a\r\n");
}

TEST(TextCharacters, WorksFromSeveralThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong = 0;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        if (Text::characterCount("🇩🇪e\u0301x👍🏽") != 4) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST(TextUTF8, ValidatesAndRepairs) {
  struct Case {
    std::string_view text;
    bool valid;
    std::string_view repaired;
  };
  const Case cases[] = {
      {"plain", true, "plain"},
      {"é😀", true, "é😀"},
      {"a\xFF"
       "b",
       false,
       "a\uFFFD"
       "b"},
      {"\xC3", false, "\uFFFD"},                      // truncated
      {"\xC0\xAF", false, "\uFFFD\uFFFD"},            // overlong "/"
      {"\xED\xA0\x80", false, "\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF0\x9F\x98", false, "\uFFFD"},              // truncated emoji: one maximal subpart
  };
  for (const auto& [text, valid, repaired] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Text::isValidUTF8(text), valid);
    EXPECT_EQ(Text::repairedUTF8(text), repaired);
    EXPECT_EQ(Text::fromCodePoints(Text::codePoints(text)), repaired);
  }
  EXPECT_EQ(Text::codePoints("a😀"), U"a😀");
  EXPECT_EQ(Text::fromCodePoints(U"x\xD800y"), "x\uFFFDy");
}

TEST(TextNumbers, ParsesWholeIntegersOnly) {
  struct Case {
    std::string_view text;
    std::optional<std::int64_t> value;
  };
  const Case cases[] = {
      {"42", 42},
      {"+7", 7},
      {"-0", 0},
      {"007", 7},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"+-1", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"1.0", std::nullopt},
      {"0x10", std::nullopt},
      {"١٢", std::nullopt},  // Arabic-Indic digits are not read
  };
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Text::parseInteger(text), value);
  }
}

TEST(TextNumbers, FormatsDoublesInTheirShortestForm) {
  EXPECT_EQ(Text::formatDouble(0.1), "0.1");
  EXPECT_EQ(Text::formatDouble(1e21), "1e+21");
  const double third = 1.0 / 3.0;
  EXPECT_EQ(std::stod(Text::formatDouble(third)), third);
}

TEST(TextHelpers, SplitKeepsEmptyPiecesAndReplaceIsLiteral) {
  EXPECT_EQ(Text::split("a,,b,", ','), (std::vector<std::string_view>{"a", "", "b", ""}));
  EXPECT_EQ(Text::replacingAll("a.b.c", ".", "[.]"), "a[.]b[.]c");
  EXPECT_EQ(Text::replacingAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(Text::replacingAll("abc", "", "x"), "abc");
}

}  // namespace
}  // namespace linkferry
