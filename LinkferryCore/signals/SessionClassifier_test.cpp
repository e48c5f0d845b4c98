#include "signals/SessionClassifier.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

constexpr double kDay = 86400;
const Date kNow{1796629939};

CookieRecord cookie(std::string name, std::optional<double> expiresIn,
                    std::optional<double> accessedAgo, bool persistent = true) {
  CookieRecord record;
  record.host = "example.com";
  record.name = std::move(name);
  if (expiresIn) record.expires = kNow.adding(*expiresIn);
  if (accessedAgo) record.lastAccess = kNow.adding(-*accessedAgo);
  record.persistent = persistent;
  return record;
}

TEST(SessionClassifier, LevelOfOneTargetsCookies) {
  const SessionClassifier classifier;  // the default keywords, 30 days idle
  struct Case {
    const char* what;
    std::vector<CookieRecord> cookies;
    SessionLevel expected;
  };
  const std::vector<Case> cases = {
      {"no cookies", {}, SessionLevel::none},
      {"expired yesterday", {cookie("SESSIONID", -kDay, kDay)}, SessionLevel::none},
      {"expiring right now", {cookie("SESSIONID", 0, 1)}, SessionLevel::none},
      {"live session cookie", {cookie("prefs", std::nullopt, 1, false)}, SessionLevel::weak},
      {"auth name, used 10 days ago",
       {cookie("SESSIONID", 365 * kDay, 10 * kDay)},
       SessionLevel::strong},
      {"auth name, used 31 days ago",
       {cookie("SESSIONID", 365 * kDay, 31 * kDay)},
       SessionLevel::weak},
      {"auth name, used exactly 30 days ago",
       {cookie("sid", kDay, 30 * kDay)},
       SessionLevel::strong},
      {"auth name, never accessed", {cookie("jwt", kDay, std::nullopt)}, SessionLevel::strong},
      {"persistent without expiry", {cookie("SESSIONID", std::nullopt, 1)}, SessionLevel::weak},
      {"not persistent but with expiry", {cookie("token", kDay, 1, false)}, SessionLevel::weak},
      {"prefix keyword in mixed case", {cookie("__Secure-3PSID", kDay, 1)}, SessionLevel::strong},
      {"persistent, no keyword", {cookie("lang", 365 * kDay, 1)}, SessionLevel::weak},
      {"expired strong-looking cookie beside a weak one",
       {cookie("auth", -1, 1), cookie("theme", std::nullopt, 1, false)},
       SessionLevel::weak},
      {"strong after weak",
       {cookie("lang", kDay, 1), cookie("logged_in", kDay, 1)},
       SessionLevel::strong},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    EXPECT_EQ(classifier.level(test.cookies, kNow), test.expected);
  }
}

TEST(SessionClassifier, KeywordsAreLowercasedOnceAndIdleTimeIsConfigurable) {
  const SessionClassifier classifier({"MyAuth"}, kDay);
  EXPECT_EQ(classifier.keywords, std::vector<std::string>{"myauth"});
  EXPECT_EQ(classifier.level({cookie("X_MYAUTH_Y", kDay, 1)}, kNow), SessionLevel::strong);
  EXPECT_EQ(classifier.level({cookie("X_MYAUTH_Y", kDay, 2 * kDay)}, kNow), SessionLevel::weak);
  EXPECT_EQ(classifier.level({cookie("sessionid", kDay, 1)}, kNow), SessionLevel::weak);
}

}  // namespace
}  // namespace linkferry
