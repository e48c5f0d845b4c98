#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "foundation/Json.h"

namespace linkferry {

// Where a link opens in the browser. Stored as its case name ("newTab", "newWindow",
// "currentTab"); the order of allOpenInCases is the declaration order.
enum class OpenIn {
  newTab,  // the default everywhere
  newWindow,
  currentTab,  // replaces the page of the front window's current tab
};

inline constexpr std::array<OpenIn, 3> allOpenInCases = {OpenIn::newTab, OpenIn::newWindow,
                                                         OpenIn::currentTab};

std::string_view toString(OpenIn openIn);
// Nothing for any text that is not exactly a case name.
std::optional<OpenIn> openInFromString(std::string_view text);
// The following case, cycling: newTab → newWindow → currentTab → newTab.
OpenIn next(OpenIn openIn);

// The options that shape a launch plan. Settings hold the user's defaults; a deciding rule may
// override them.
struct OpenOptions {
  OpenIn openIn = OpenIn::newTab;
  bool background = false;  // open without bringing the browser to the front

  // `newWindow` true gives OpenIn::newWindow, false gives OpenIn::newTab.
  static OpenOptions fromNewWindow(bool newWindow, bool background);

  // True exactly when openIn is newWindow.
  bool newWindow() const { return openIn == OpenIn::newWindow; }
  // true selects newWindow; false turns newWindow back into newTab and leaves currentTab alone.
  void setNewWindow(bool newWindow);

  // The user's defaults combined with a deciding rule's own launch preferences (its `newWindow`
  // and `background`, absent when the rule leaves them to the defaults): a rule's `newWindow`
  // gives newWindow when true and newTab when false, so a rule can take a global currentTab to a
  // new tab or window but never into the current tab.
  static OpenOptions resolve(const OpenOptions& global, std::optional<bool> ruleNewWindow,
                             std::optional<bool> ruleBackground);

  // {"openIn": <case name>, "background": <bool>}.
  JsonValue toJson() const;
  // Both keys are required; an unknown openIn text fails. Throws JsonError.
  static OpenOptions fromJson(const JsonReader& json);

  bool operator==(const OpenOptions&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::OpenOptions> {
  std::size_t operator()(const linkferry::OpenOptions& options) const noexcept {
    return static_cast<std::size_t>(options.openIn) * 2 + (options.background ? 1 : 0);
  }
};
