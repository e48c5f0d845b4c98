#include "foundation/L10n.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Json.h"
#include "foundation/Resources.h"

namespace linkferry {
namespace {

// The test runs in the C or an English locale, where no table applies: keys come back as given.
TEST(L10n, MissingKeyReturnsTheKeyFormatted) {
  EXPECT_EQ(L10n::tr("OK"), "OK");
  EXPECT_EQ(L10n::tr("Could not open in %@: %@", {std::string("Safari"), std::string("timed out")}),
            "Could not open in Safari: timed out");
  EXPECT_EQ(L10n::tr("%lld links routed", {std::int64_t{1234567}}), "1234567 links routed");
  EXPECT_EQ(L10n::tr("%lld of %@", {std::int64_t{-3}, std::string("x")}), "-3 of x");
}

TEST(L10n, PercentSignsAndMissingArgumentsStayAsWritten) {
  EXPECT_EQ(L10n::tr("100%% sure"), "100%% sure");  // no arguments: the text is not a format
  EXPECT_EQ(L10n::tr("100%% of %@", {std::string("links")}), "100% of links");
  EXPECT_EQ(L10n::tr("%@ and %@", {std::string("one")}), "one and %@");
  EXPECT_EQ(L10n::tr("50% off %@", {std::string("now")}), "50% off now");
}

// "%@" and "%lld" in their order in `text`.
std::vector<std::string> placeholders(const std::string& text) {
  std::vector<std::string> found;
  for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
    if (text.compare(at, 2, "%@") == 0) found.push_back("%@");
    if (text.compare(at, 4, "%lld") == 0) found.push_back("%lld");
  }
  return found;
}

// A translation that drops, adds or reorders an argument would show the wrong value in its place.
TEST(L10n, TranslationsKeepTheArgumentsOfTheirKeysInOrder) {
  const auto bytes = Resources::find("strings/de.json");
  ASSERT_TRUE(bytes);
  const JsonValue table = JsonValue::parse(*bytes);
  ASSERT_TRUE(table.is_object());
  for (const auto& [key, value] : table.items()) {
    SCOPED_TRACE(key);
    ASSERT_TRUE(value.is_string());
    EXPECT_EQ(placeholders(value.get<std::string>()), placeholders(key));
  }
}

}  // namespace
}  // namespace linkferry
