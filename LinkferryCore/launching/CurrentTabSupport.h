#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <variant>

namespace linkferry {

// Whether a link may replace the page in the front window's current tab of a browser. That needs a
// scriptable tab and a front window that surely belongs to the chosen profile; when either is in
// doubt the link opens in a new tab instead.
struct CurrentTabSupport {
  // Why the current tab cannot be used. Stored as its case name.
  enum class Reason {
    notScriptable,     // the browser has no scriptable tab (or is not in the catalog, or Linux)
    severalProfiles,   // the front window may belong to another profile
    separateInstance,  // another instance runs the same application
    privateWindow,     // private targets always get a new private window
  };

  struct Available {
    bool operator==(const Available&) const = default;
  };
  struct Unavailable {
    Reason reason = Reason::notScriptable;
    bool operator==(const Unavailable&) const = default;
  };
  using Value = std::variant<Unavailable, Available>;

  static CurrentTabSupport available() { return CurrentTabSupport{Available{}}; }
  static CurrentTabSupport unavailable(Reason reason) {
    return CurrentTabSupport{Unavailable{reason}};
  }

  const Value& value() const { return m_value; }
  bool isAvailable() const { return std::holds_alternative<Available>(m_value); }
  // The reason of an `unavailable` support; nothing when available.
  std::optional<Reason> reason() const {
    if (const auto* unavailable = std::get_if<Unavailable>(&m_value)) return unavailable->reason;
    return std::nullopt;
  }

  bool operator==(const CurrentTabSupport&) const = default;

 private:
  explicit CurrentTabSupport(Value value) : m_value(value) {}
  Value m_value;
};

inline constexpr std::array<CurrentTabSupport::Reason, 4> allCurrentTabReasons = {
    CurrentTabSupport::Reason::notScriptable, CurrentTabSupport::Reason::severalProfiles,
    CurrentTabSupport::Reason::separateInstance, CurrentTabSupport::Reason::privateWindow};

// The raw value: "notScriptable", "severalProfiles", "separateInstance" or "privateWindow".
std::string_view toString(CurrentTabSupport::Reason reason);
// Nothing for any text that is not exactly a raw value.
std::optional<CurrentTabSupport::Reason> currentTabReasonFromString(std::string_view text);
// The text a new-tab plan's warning gives for the reason ("no AppleScript support for tabs");
// nothing for privateWindow, which falls back silently.
std::optional<std::string_view> warningText(CurrentTabSupport::Reason reason);

}  // namespace linkferry

template <>
struct std::hash<linkferry::CurrentTabSupport> {
  std::size_t operator()(const linkferry::CurrentTabSupport& support) const noexcept {
    const auto reason = support.reason();
    return reason ? static_cast<std::size_t>(*reason) + 1 : 0;
  }
};
