#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "browsers/BrowserTarget.h"
#include "foundation/URL.h"

namespace linkferry {

// Where a link ends up: a closed set of cases (in this order) with their payloads.
struct RouteTarget {
  // Open the link in this browser, profile, container or private window.
  struct Open {
    BrowserTarget target;
    bool operator==(const Open&) const = default;
  };
  // Open the link with this desktop app.
  struct OpenInApp {
    std::string bundleID;
    bool operator==(const OpenInApp&) const = default;
  };
  // Open a different link (the app's own form of the incoming one) with this desktop app.
  struct OpenLink {
    URL url;
    std::string bundleID;
    bool operator==(const OpenLink&) const = default;
  };
  // Do nothing.
  struct Ignore {
    bool operator==(const Ignore&) const = default;
  };
  using Value = std::variant<Open, OpenInApp, OpenLink, Ignore>;

  static RouteTarget open(BrowserTarget target) { return RouteTarget{Open{std::move(target)}}; }
  static RouteTarget openInApp(std::string bundleID) {
    return RouteTarget{OpenInApp{std::move(bundleID)}};
  }
  static RouteTarget openLink(URL url, std::string bundleID) {
    return RouteTarget{OpenLink{std::move(url), std::move(bundleID)}};
  }
  static RouteTarget ignore() { return RouteTarget{Ignore{}}; }

  const Value& value() const { return m_value; }
  bool isOpen() const { return std::holds_alternative<Open>(m_value); }
  bool isOpenInApp() const { return std::holds_alternative<OpenInApp>(m_value); }
  bool isOpenLink() const { return std::holds_alternative<OpenLink>(m_value); }
  bool isIgnore() const { return std::holds_alternative<Ignore>(m_value); }

  // The browser target of an `open` target; nothing for the other cases.
  std::optional<BrowserTarget> browserTarget() const {
    if (const auto* open = std::get_if<Open>(&m_value)) return open->target;
    return std::nullopt;
  }

  bool operator==(const RouteTarget&) const = default;

 private:
  explicit RouteTarget(Value value) : m_value(std::move(value)) {}
  Value m_value;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::RouteTarget> {
  std::size_t operator()(const linkferry::RouteTarget& target) const noexcept {
    using linkferry::RouteTarget;
    std::hash<std::string> text;
    std::size_t hash = target.value().index() * 0x9e3779b97f4a7c15ull;
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    std::visit(
        [&](const auto& value) {
          using Case = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<Case, RouteTarget::Open>) {
            mix(std::hash<linkferry::BrowserTarget>()(value.target));
          } else if constexpr (std::is_same_v<Case, RouteTarget::OpenInApp>) {
            mix(text(value.bundleID));
          } else if constexpr (std::is_same_v<Case, RouteTarget::OpenLink>) {
            mix(std::hash<linkferry::URL>()(value.url));
            mix(text(value.bundleID));
          }
        },
        target.value());
    return hash;
  }
};
