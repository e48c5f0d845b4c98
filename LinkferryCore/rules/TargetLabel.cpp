#include "rules/TargetLabel.h"

#include "foundation/L10n.h"

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

}  // namespace linkferry::TargetLabel
