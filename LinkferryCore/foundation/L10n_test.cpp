#include "foundation/L10n.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace linkferry
