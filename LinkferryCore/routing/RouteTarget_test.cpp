#include "routing/RouteTarget.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "routing/Candidate.h"
#include "routing/FocusDefault.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"

namespace linkferry {
namespace {

URL url(const char* text) {
  return *URL::parse(text);
}

TEST(RouteTarget, OnlyOpenCarriesABrowserTarget) {
  const BrowserTarget target{"firefox", "work", "2"};
  EXPECT_EQ(RouteTarget::open(target).browserTarget(), target);
  const RouteTarget others[] = {RouteTarget::openInApp("app"),
                                RouteTarget::openLink(url("zoommtg://x"), "app"),
                                RouteTarget::ignore()};
  for (const auto& other : others) EXPECT_EQ(other.browserTarget(), std::nullopt);
}

TEST(RouteTarget, CasesWithEqualPayloadsStayDistinct) {
  std::unordered_set<RouteTarget> set = {
      RouteTarget::openInApp("app"), RouteTarget::openLink(url("https://a.test/"), "app"),
      RouteTarget::openLink(url("https://b.test/"), "app"), RouteTarget::ignore(),
      RouteTarget::open(BrowserTarget{"app"})};
  EXPECT_EQ(set.size(), 5u);
  EXPECT_TRUE(set.count(RouteTarget::openInApp("app")));
}

TEST(Candidate, WeightIsPartOfTheValue) {
  const Candidate a{BrowserTarget{"b"}, 1.0, {Reason{"history", "visited"}}};
  Candidate b = a;
  b.weight = 2.0;
  EXPECT_NE(a, b);
  EXPECT_EQ(std::unordered_set<Candidate>({a, b, a}).size(), 2u);
}

TEST(RoutingContext, InstalledAppsAndLockStartEmpty) {
  RoutingContext context(std::nullopt, "chromium", {"Home"}, Date{1e9},
                         *Calendar::withTimeZone("UTC"));
  EXPECT_TRUE(context.installedApps.empty());
  EXPECT_FALSE(context.screenLocked);
  RoutingContext other = context;
  other.calendar = *Calendar::withTimeZone("Europe/Berlin");
  EXPECT_NE(context, other);
  other.calendar = *Calendar::withTimeZone("UTC");
  EXPECT_EQ(context, other);
  EXPECT_EQ(std::hash<RoutingContext>()(context), std::hash<RoutingContext>()(other));
}

TEST(LinkRequest, SourceDefaultsToUnknown) {
  LinkRequest request(url("https://a.test/"), Date{5});
  EXPECT_EQ(request.sourceApp, std::nullopt);
  EXPECT_EQ(request.sourceWindow, std::nullopt);
  EXPECT_NE(request, LinkRequest(url("https://a.test/"), "com.app", std::nullopt, Date{5}));
}

TEST(FocusDefault, RoundTripsAndRequiresBothKeys) {
  const FocusDefault focus{BrowserTarget{"firefox", "work", std::nullopt, true}, true};
  const JsonValue json = focus.toJson();
  EXPECT_EQ(FocusDefault::fromJson(JsonReader(json, "settings.json")), focus);
  JsonValue withoutFlag = json;
  withoutFlag.erase("alwaysUse");
  EXPECT_THROW(FocusDefault::fromJson(JsonReader(withoutFlag, "settings.json", "focusDefault")),
               JsonError);
}

}  // namespace
}  // namespace linkferry
