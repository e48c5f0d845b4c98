#include "settings/SettingsChoices.h"

namespace linkferry {
namespace {

template <typename Enum, std::size_t N>
std::optional<Enum> caseNamed(const std::array<Enum, N>& cases, std::string_view text) {
  for (Enum candidate : cases) {
    if (toString(candidate) == text) return candidate;
  }
  return std::nullopt;
}

}  // namespace

std::string_view toString(AlternativeModifier modifier) {
  switch (modifier) {
    case AlternativeModifier::off:
      return "off";
    case AlternativeModifier::commandOption:
      return "commandOption";
    case AlternativeModifier::option:
      return "option";
    case AlternativeModifier::shiftOption:
      return "shiftOption";
    case AlternativeModifier::shiftCommand:
      return "shiftCommand";
  }
  return "off";
}

std::optional<AlternativeModifier> alternativeModifierFromString(std::string_view text) {
  return caseNamed(allAlternativeModifierCases, text);
}

ModifierKeys keys(AlternativeModifier modifier) {
  switch (modifier) {
    case AlternativeModifier::off:
      return {};
    case AlternativeModifier::commandOption:
      return ModifierKeys::of({ModifierKeys::option(), ModifierKeys::command()});
    case AlternativeModifier::option:
      return ModifierKeys::option();
    case AlternativeModifier::shiftOption:
      return ModifierKeys::of({ModifierKeys::shift(), ModifierKeys::option()});
    case AlternativeModifier::shiftCommand:
      return ModifierKeys::of({ModifierKeys::shift(), ModifierKeys::command()});
  }
  return {};
}

std::string_view symbols(AlternativeModifier modifier) {
  switch (modifier) {
    case AlternativeModifier::off:
      return "";
    case AlternativeModifier::commandOption:
      return "⌘⌥";
    case AlternativeModifier::option:
      return "⌥";
    case AlternativeModifier::shiftOption:
      return "⇧⌥";
    case AlternativeModifier::shiftCommand:
      return "⇧⌘";
  }
  return "";
}

std::string_view toString(AlternativeAction action) {
  switch (action) {
    case AlternativeAction::openAlternative:
      return "openAlternative";
    case AlternativeAction::showPicker:
      return "showPicker";
  }
  return "openAlternative";
}

std::optional<AlternativeAction> alternativeActionFromString(std::string_view text) {
  return caseNamed(allAlternativeActionCases, text);
}

std::string_view toString(MenuBarIconStyle style) {
  switch (style) {
    case MenuBarIconStyle::stack:
      return "stack";
    case MenuBarIconStyle::mono:
      return "mono";
    case MenuBarIconStyle::arrow:
      return "arrow";
  }
  return "stack";
}

std::optional<MenuBarIconStyle> menuBarIconStyleFromString(std::string_view text) {
  return caseNamed(allMenuBarIconStyleCases, text);
}

}  // namespace linkferry
