#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

// The small enumerations that only the settings use: the modifier chord of the alternative
// browser, what that chord does, and the menu bar icon's style. Each closed enumeration is stored
// in JSON as its case name; its `all…Cases` array lists the cases in declaration order (the order
// of a settings screen).
namespace linkferry {

// An option set of held modifier keys over a signed integer.
struct ModifierKeys {
  std::int64_t rawValue = 0;

  static constexpr std::int64_t kShift = 1;
  static constexpr std::int64_t kControl = 2;
  static constexpr std::int64_t kOption = 4;
  static constexpr std::int64_t kCommand = 8;

  static constexpr ModifierKeys shift() { return {kShift}; }
  static constexpr ModifierKeys control() { return {kControl}; }
  static constexpr ModifierKeys option() { return {kOption}; }
  static constexpr ModifierKeys command() { return {kCommand}; }

  // The members OR-ed together; the empty list gives the empty set.
  static constexpr ModifierKeys of(std::initializer_list<ModifierKeys> members) {
    ModifierKeys keys;
    for (ModifierKeys member : members) keys.rawValue |= member.rawValue;
    return keys;
  }

  // True when every key of `other` is held here (the empty set is contained in every set).
  constexpr bool contains(ModifierKeys other) const {
    return (rawValue & other.rawValue) == other.rawValue;
  }
  constexpr bool isEmpty() const { return rawValue == 0; }

  bool operator==(const ModifierKeys&) const = default;
};

// The chord that sends a clicked link to the alternative browser.
enum class AlternativeModifier { off, commandOption, option, shiftOption, shiftCommand };

inline constexpr std::array<AlternativeModifier, 5> allAlternativeModifierCases = {
    AlternativeModifier::off, AlternativeModifier::commandOption, AlternativeModifier::option,
    AlternativeModifier::shiftOption, AlternativeModifier::shiftCommand};

std::string_view toString(AlternativeModifier modifier);
// Nothing for any text that is not exactly a case name.
std::optional<AlternativeModifier> alternativeModifierFromString(std::string_view text);
// The keys that must be held: none for `off`, option + command for `commandOption`, ...
ModifierKeys keys(AlternativeModifier modifier);
// "⌘⌥", "⌥", "⇧⌥", "⇧⌘"; empty for `off`.
std::string_view symbols(AlternativeModifier modifier);

// What the alternative chord does.
enum class AlternativeAction { openAlternative, showPicker };

inline constexpr std::array<AlternativeAction, 2> allAlternativeActionCases = {
    AlternativeAction::openAlternative, AlternativeAction::showPicker};

std::string_view toString(AlternativeAction action);
std::optional<AlternativeAction> alternativeActionFromString(std::string_view text);

// The menu bar icon's look.
enum class MenuBarIconStyle { stack, mono, arrow };

inline constexpr std::array<MenuBarIconStyle, 3> allMenuBarIconStyleCases = {
    MenuBarIconStyle::stack, MenuBarIconStyle::mono, MenuBarIconStyle::arrow};

std::string_view toString(MenuBarIconStyle style);
std::optional<MenuBarIconStyle> menuBarIconStyleFromString(std::string_view text);

}  // namespace linkferry
