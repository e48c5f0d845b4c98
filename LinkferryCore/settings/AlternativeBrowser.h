#pragma once

#include <cstddef>
#include <functional>
#include <variant>

#include "browsers/BrowserTarget.h"
#include "settings/AppSettings.h"
#include "settings/SettingsChoices.h"

namespace linkferry {

// What the modifier keys held during a click ask for: open the link in a given target, nothing
// special, or the picker.
struct ClickOverride {
  struct Open {
    BrowserTarget target;
    bool operator==(const Open&) const = default;
  };
  struct None {
    bool operator==(const None&) const = default;
  };
  struct Pick {
    bool operator==(const Pick&) const = default;
  };
  using Value = std::variant<Open, None, Pick>;

  static ClickOverride open(BrowserTarget target) { return ClickOverride{Open{std::move(target)}}; }
  static ClickOverride none() { return ClickOverride{None{}}; }
  static ClickOverride pick() { return ClickOverride{Pick{}}; }

  const Value& value() const { return m_value; }
  const Open* asOpen() const { return std::get_if<Open>(&m_value); }
  bool isNone() const { return std::holds_alternative<None>(m_value); }
  bool isPick() const { return std::holds_alternative<Pick>(m_value); }

  bool operator==(const ClickOverride&) const = default;

 private:
  // From the alternative itself rather than a Value: moving a whole variant makes GCC 12 report
  // the alternatives it does not hold as maybe-uninitialized.
  template <typename Alternative>
  explicit ClickOverride(Alternative alternative) : m_value(std::move(alternative)) {}
  Value m_value;
};

namespace AlternativeBrowser {

// `none` when the chord is off or not every key of it is held (extra keys do not matter);
// otherwise `pick` for the `showPicker` action, and for `openAlternative` the alternative browser,
// or `pick` when none is set.
ClickOverride decide(ModifierKeys held, const AppSettings& settings);

}  // namespace AlternativeBrowser

}  // namespace linkferry

template <>
struct std::hash<linkferry::ClickOverride> {
  std::size_t operator()(const linkferry::ClickOverride& value) const noexcept {
    if (const auto* open = value.asOpen()) return std::hash<linkferry::BrowserTarget>()(open->target);
    return value.isNone() ? 0x4e : 0x50;
  }
};
