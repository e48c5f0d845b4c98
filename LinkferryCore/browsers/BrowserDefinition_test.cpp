#include "browsers/BrowserDefinition.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "browsers/BrowserProfile.h"
#include "browsers/BrowserTarget.h"

namespace linkferry {
namespace {

BrowserDefinition decode(std::string_view text) {
  const JsonValue json = Json::parse(text, "browsers.json");
  return BrowserDefinition::fromJson(JsonReader(json, "browsers.json"));
}

std::string decodeError(std::string_view text) {
  try {
    decode(text);
  } catch (const JsonError& error) {
    return error.what();
  }
  return "no error";
}

TEST(BrowserFamily, RawValuesRoundTripAndUnknownTextIsRejected) {
  for (BrowserFamily family : kAllBrowserFamilies) {
    SCOPED_TRACE(toString(family));
    EXPECT_EQ(browserFamilyFromString(toString(family)), family);
  }
  EXPECT_EQ(browserFamilyFromString("Chromium"), std::nullopt);
  EXPECT_EQ(browserFamilyFromString(""), std::nullopt);
  EXPECT_TRUE(supportsPrivateMode(BrowserFamily::chromium));
  EXPECT_TRUE(supportsPrivateMode(BrowserFamily::firefox));
  EXPECT_FALSE(supportsPrivateMode(BrowserFamily::safari));
  EXPECT_FALSE(supportsPrivateMode(BrowserFamily::other));
}

TEST(BrowserTarget, AbsentAndEmptyProfileDifferInEqualityAndHash) {
  BrowserTarget absent{"b", std::nullopt, std::nullopt, false};
  BrowserTarget empty{"b", std::string(), std::nullopt, false};
  EXPECT_NE(absent, empty);
  std::unordered_set<BrowserTarget> set{absent, empty};
  EXPECT_EQ(set.size(), 2u);
}

TEST(BrowserTarget, DescriptionOfContainerAndPrivateTarget) {
  BrowserTarget target{"org.mozilla.firefox", std::nullopt, "2", true};
  EXPECT_EQ(target.description(), "org.mozilla.firefox / container:2 / private");
  EXPECT_EQ(BrowserTarget{"b"}.description(), "b");
}

TEST(BrowserDefinition, OptionalKeysAreWrittenOnlyWhenTheyCarryAValue) {
  BrowserDefinition minimal = decode(R"({"id":"x","name":"X","family":"chromium","appPath":"/x",
                                         "launchArguments":[],"explicitUserDataDir":null,"dataDir":null})");
  EXPECT_EQ(minimal.toJson(), JsonValue::parse(R"({"id":"x","name":"X","family":"chromium",
                                                   "appPath":"/x","explicitUserDataDir":false})"));

  BrowserDefinition full{"y", "Y", BrowserFamily::firefox, "/y", "/data", true, {"-a", "b"}};
  JsonValue json = full.toJson();
  EXPECT_EQ(json["dataDir"], "/data");
  EXPECT_EQ(json["launchArguments"], JsonValue::parse(R"(["-a","b"])"));
  EXPECT_EQ(BrowserDefinition::fromJson(JsonReader(json, "f")), full);
}

TEST(BrowserDefinition, DecodingErrorsNameTheKey) {
  const struct {
    const char* json;
    const char* error;
  } cases[] = {
      {R"({"name":"X","family":"other","appPath":"/x"})", "browsers.json: missing key \"id\""},
      {R"({"id":"x","name":"X","family":"gecko","appPath":"/x"})",
       "browsers.json: family: unknown browser family \"gecko\""},
      {R"({"id":"x","name":"X","family":"other","appPath":"/x","launchArguments":[1]})",
       "browsers.json: launchArguments[0]: expected a string, got a number"},
      {R"(["x"])", "browsers.json: expected an object, got an array"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(decodeError(c.json).rfind(c.error, 0), 0u) << decodeError(c.json);
  }
}

TEST(BrowserProfile, AccountsTextPrefersGoogleAccountsOverEmail) {
  BrowserProfile profile{"Default", "Me", "/p", {}, "me@example.com", {}, {}, {}, {}};
  EXPECT_EQ(profile.accountsText(), "me@example.com");
  profile.googleAccounts = {"a@example.com", "b@example.com"};
  EXPECT_EQ(profile.accountsText(), "a@example.com, b@example.com");
  profile.googleAccounts.clear();
  profile.email.reset();
  EXPECT_EQ(profile.accountsText(), std::nullopt);
}

}  // namespace
}  // namespace linkferry
