#include "rules/TargetLabel.h"

#include "foundation/L10n.h"
#include "foundation/Overloaded.h"

namespace linkferry::TargetLabel {

std::string text(const BrowserTarget& target, const BrowserCatalog& catalog) {
  const CatalogBrowser* browser = catalog.browser(target.browser);
  std::string label = browser ? browser->definition.name : target.browser;

  const BrowserProfile* profile = catalog.profile(target);
  if (profile) {
    label += " — " + profile->name;
  } else if (target.profile) {
    label += " — " + *target.profile;
  }

  if (target.container) {
    std::string name = *target.container;
    if (profile) {
      for (const FirefoxContainer& container : profile->containers) {
        if (container.id == *target.container) {
          name = container.name;
          break;
        }
      }
    }
    label += " · " + name;
  }

  if (target.privateMode) label += L10n::tr(" (private)");
  return label;
}

std::string text(const RouteTarget& target, const BrowserCatalog& catalog) {
  return std::visit(
      Overloaded{[&](const RouteTarget::Open& open) { return text(open.target, catalog); },
                 [](const RouteTarget::OpenInApp& app) { return app.bundleID; },
                 [](const RouteTarget::OpenLink& link) {
                   return link.bundleID + " (" + link.url.absoluteString() + ")";
                 },
                 [](const RouteTarget::Ignore&) { return std::string("nothing"); }},
      target.value());
}

}  // namespace linkferry::TargetLabel
