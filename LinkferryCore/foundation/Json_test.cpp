#include "foundation/Json.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace linkferry {
namespace {

std::string parseFailure(std::string_view text) {
  try {
    Json::parse(text, "rules.json");
  } catch (const JsonError& error) {
    return error.what();
  }
  return "parsed";
}

TEST(JsonParse, ReportsLineAndColumnInPlainEnglish) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"", "rules.json: line 1, column 1: unexpected end of input, expected a value"},
      {"{", "rules.json: line 1, column 2: unexpected end of input, expected a string"},
      {"[1,]", "rules.json: line 1, column 4: unexpected ']', expected a value"},
      {"{\n  \"a\" 1\n}", "rules.json: line 2, column 7: unexpected number, expected ':'"},
      {"{\"a\": 1,\n}", "rules.json: line 2, column 1: unexpected '}', expected a string"},
      {"{} 1", "rules.json: line 1, column 4: unexpected number after the value"},
      {"[\n tru]", "rules.json: line 2, column 2: invalid value"},
      {"\"abc", "rules.json: line 1, column 5: unterminated string"},
      {"[\"a\nb\"]", "rules.json: line 1, column 4: control character in a string must be escaped"},
      {"[1e400]", "rules.json: line 1, column 6: number out of range"},
      {"[\"\\q\"]", "rules.json: line 1, column 4: invalid escape sequence in a string"},
      {"[\"\xff\"]", "rules.json: line 1, column 3: invalid UTF-8 in a string"},
      // Columns count characters, not bytes.
      {"[\"äöü\" 1]", "rules.json: line 1, column 8: unexpected number, expected ']'"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parseFailure(text), expected);
  }
}

TEST(JsonParse, NeverShowsTheLibrarysOwnTexts) {
  for (std::string_view text : {"{", "[1,]", "nul", "\"\\u12\"", "[-]", "{\"a\":1}}", "/* */ 1"}) {
    SCOPED_TRACE(text);
    const std::string failure = parseFailure(text);
    EXPECT_EQ(failure.find("json.exception"), std::string::npos);
    EXPECT_EQ(failure.find("syntax error"), std::string::npos);
    EXPECT_EQ(failure.rfind("rules.json: line 1, column ", 0), 0u);
  }
}

TEST(JsonParse, RefusesDeepNestingWithoutCrashing) {
  const std::string deep(200000, '[');
  EXPECT_EQ(parseFailure(deep), "rules.json: line 1, column 513: nested deeper than 512 levels");
  EXPECT_FALSE(Json::tryParse(deep));
  // Strings holding brackets do not count as nesting.
  EXPECT_EQ(parseFailure("[\"[[[\\\"\"," + std::string(600, '[')),
            "rules.json: line 1, column 521: nested deeper than 512 levels");

  std::string allowed = std::string(512, '[') + std::string(512, ']');
  EXPECT_TRUE(Json::tryParse(allowed));
}

TEST(JsonParse, TryParseGivesNothingForAnyError) {
  EXPECT_FALSE(Json::tryParse("{"));
  EXPECT_FALSE(Json::tryParse("[1e999]"));
  EXPECT_FALSE(Json::tryParse("1 2"));
  ASSERT_TRUE(Json::tryParse(" {\"a\": [1, 2.5, null]} "));
  EXPECT_EQ(Json::tryParse("{\"a\": [1, 2.5, null]}")->at("a").size(), 3u);
}

TEST(JsonEncode, PrettyIsSortedTwoSpacedAndUnescaped) {
  const JsonValue value = Json::parse(
      R"({"zeta": "https://a.test/p?q=1", "alpha": ["é😀", 1.5, 3, true, null], "m": {}})",
      "x.json");
  EXPECT_EQ(Json::encodePretty(value),
            "{\n"
            "  \"alpha\": [\n"
            "    \"é😀\",\n"
            "    1.5,\n"
            "    3,\n"
            "    true,\n"
            "    null\n"
            "  ],\n"
            "  \"m\": {},\n"
            "  \"zeta\": \"https://a.test/p?q=1\"\n"
            "}\n");
  EXPECT_EQ(Json::encodeCompact(value),
            R"({"alpha":["é😀",1.5,3,true,null],"m":{},"zeta":"https://a.test/p?q=1"})");
}

TEST(JsonEncode, ReplacesInvalidUTF8InsteadOfFailing) {
  const JsonValue value = {{"k", std::string("a\xff"
                                             "b")}};
  EXPECT_EQ(Json::encodeCompact(value),
            "{\"k\":\"a\xEF\xBF\xBD"
            "b\"}");
  EXPECT_EQ(Json::encodePretty(JsonValue("\xC3")), "\"\xEF\xBF\xBD\"\n");
}

JsonValue sampleRules() {
  return Json::parse(R"({
    "version": 1,
    "rules": [
      {"match": {"host": "a.test"}},
      {"match": {"host": "b.test"}},
      {"match": {"all": [{"host": 7}]}, "priority": 2.0, "weight": 1.5, "big": 1e30}
    ],
    "domains": {"example.com": "x"},
    "absent": null
  })",
                     "rules.json");
}

std::string readerFailure(const std::function<void()>& read) {
  try {
    read();
  } catch (const JsonError& error) {
    return error.what();
  }
  return "no error";
}

TEST(JsonReader, NamesTheKeyPathOfEveryFailure) {
  const JsonValue document = sampleRules();
  const JsonReader root(document, "rules.json");
  const auto rule = [&](std::size_t i) { return root["rules"].elements().at(i); };

  struct Case {
    std::string name;
    std::function<void()> read;
    std::string expected;
  };
  const Case cases[] = {
      {"nested type", [&] { rule(2)["match"]["all"].elements()[0]["host"].string(); },
       "rules.json: rules[2].match.all[0].host: expected a string, got a number"},
      {"missing key", [&] { rule(0)["match"]["browser"]; },
       "rules.json: rules[0].match: missing key \"browser\""},
      {"null is missing", [&] { root["absent"]; }, "rules.json: missing key \"absent\""},
      {"top level", [&] { root.elements(); }, "rules.json: expected an array, got an object"},
      {"fraction", [&] { rule(2)["weight"].integer(); },
       "rules.json: rules[2].weight: expected an integer, got 1.5"},
      {"too large", [&] { rule(2)["big"].integer(); },
       "rules.json: rules[2].big: expected an integer, got 1e+30"},
      {"boolean", [&] { root["version"].boolean(); },
       "rules.json: version: expected a boolean, got a number"},
      {"dotted key", [&] { root["domains"]["example.com"].integer(); },
       "rules.json: domains[\"example.com\"]: expected an integer, got a string"},
      {"explicit", [&] { rule(1)["match"].fail("A matcher needs exactly one known key"); },
       "rules.json: rules[1].match: A matcher needs exactly one known key"},
  };
  for (const auto& [name, read, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(readerFailure(read), expected);
  }
}

TEST(JsonReader, ReadsValuesAndOptionalMembers) {
  const JsonValue document = sampleRules();
  const JsonReader root(document, "rules.json");
  EXPECT_EQ(root["version"].integer(), 1);
  EXPECT_EQ(root["rules"].elements()[2]["priority"].integer(), 2);  // 2.0 is whole
  EXPECT_DOUBLE_EQ(root["rules"].elements()[2]["weight"].number(), 1.5);
  EXPECT_FALSE(root.optional("absent"));
  EXPECT_FALSE(root.optional("nowhere"));
  EXPECT_FALSE(root.has("absent"));
  EXPECT_EQ(root.keys(), (std::vector<std::string>{"absent", "domains", "rules", "version"}));
  EXPECT_EQ(root["rules"].elements()[1]["match"]["host"].string(), "b.test");

  const JsonValue limits =
      Json::parse("[9223372036854775807, -9223372036854775808, 9223372036854775808]", "l");
  const auto elements = JsonReader(limits, "l").elements();
  EXPECT_EQ(elements[0].integer(), INT64_MAX);
  EXPECT_EQ(elements[1].integer(), INT64_MIN);
  EXPECT_THROW(elements[2].integer(), JsonError);
}

}  // namespace
}  // namespace linkferry
