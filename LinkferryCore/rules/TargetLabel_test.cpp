#include "rules/TargetLabel.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

BrowserCatalog catalog() {
  BrowserProfile work;
  work.id = "work-id";
  work.name = "Work";
  work.path = "/p/work";
  work.containers.push_back(FirefoxContainer{.id = "3", .name = "Shopping", .color = "pink"});
  BrowserDefinition firefox;
  firefox.id = "org.mozilla.firefox";
  firefox.name = "Firefox";
  firefox.family = BrowserFamily::firefox;
  firefox.appPath = "/usr/bin/firefox";
  BrowserCatalog result;
  result.browsers.push_back(
      CatalogBrowser{.definition = firefox, .profiles = {work}, .dataBlocked = false});
  return result;
}

BrowserTarget target(std::string browser, std::optional<std::string> profile,
                     std::optional<std::string> container, bool privateMode) {
  return BrowserTarget{.browser = std::move(browser),
                       .profile = std::move(profile),
                       .container = std::move(container),
                       .privateMode = privateMode};
}

TEST(TargetLabel, NamesBrowserProfileContainerAndPrivacy) {
  const auto none = std::nullopt;
  struct Case {
    BrowserTarget target;
    const char* label;
  };
  const Case cases[] = {
      {target("org.mozilla.firefox", "work-id", "3", true), "Firefox — Work · Shopping (private)"},
      {target("org.mozilla.firefox", none, none, false), "Firefox"},
      {target("org.mozilla.firefox", none, none, true), "Firefox (private)"},
      {target("org.mozilla.firefox", "gone", none, false), "Firefox — gone"},
      {target("org.mozilla.firefox", "work-id", "9", false), "Firefox — Work · 9"},
      {target("org.mozilla.firefox", none, "3", false), "Firefox · 3"},
      {target("com.unknown", "p", none, false), "com.unknown — p"},
  };
  const BrowserCatalog known = catalog();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target.description());
    EXPECT_EQ(TargetLabel::text(c.target, known), c.label);
  }
}

}  // namespace
}  // namespace linkferry
