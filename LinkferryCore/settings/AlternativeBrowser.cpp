#include "settings/AlternativeBrowser.h"

namespace linkferry::AlternativeBrowser {

ClickOverride decide(ModifierKeys held, const AppSettings& settings) {
  if (settings.alternativeModifier == AlternativeModifier::off) return ClickOverride::none();
  if (!held.contains(keys(settings.alternativeModifier))) return ClickOverride::none();
  switch (settings.alternativeAction) {
    case AlternativeAction::showPicker:
      return ClickOverride::pick();
    case AlternativeAction::openAlternative:
      break;
  }
  if (settings.alternativeBrowser) return ClickOverride::open(*settings.alternativeBrowser);
  return ClickOverride::pick();
}

}  // namespace linkferry::AlternativeBrowser
