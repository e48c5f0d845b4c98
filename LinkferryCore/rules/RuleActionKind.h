#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "rules/URLRewrite.h"

namespace linkferry {

// What a matching rule does, a closed set of cases in this order.
struct RuleActionKind {
  // Open the link in this browser, profile, container or private window.
  struct Open {
    BrowserTarget target;
    bool operator==(const Open&) const = default;
  };
  // Show the picker limited to these targets.
  struct Prompt {
    std::vector<BrowserTarget> targets;
    bool operator==(const Prompt&) const = default;
  };
  // Open the link with the desktop app of this bundle identifier.
  struct OpenInApp {
    std::string bundleID;
    bool operator==(const OpenInApp&) const = default;
  };
  // Change the link before routing; never decides where it opens.
  struct Rewrite {
    URLRewrite rewrite;
    bool operator==(const Rewrite&) const = default;
  };
  // Do nothing with the link.
  struct Ignore {
    bool operator==(const Ignore&) const = default;
  };
  using Value = std::variant<Open, Prompt, OpenInApp, Rewrite, Ignore>;

  static RuleActionKind open(BrowserTarget target) {
    return RuleActionKind(Open{std::move(target)});
  }
  static RuleActionKind prompt(std::vector<BrowserTarget> targets) {
    return RuleActionKind(Prompt{std::move(targets)});
  }
  static RuleActionKind openInApp(std::string bundleID) {
    return RuleActionKind(OpenInApp{std::move(bundleID)});
  }
  static RuleActionKind rewrite(URLRewrite rewrite) {
    return RuleActionKind(Rewrite{std::move(rewrite)});
  }
  static RuleActionKind ignore() { return RuleActionKind(Ignore{}); }

  const Value& value() const { return m_value; }
  // The case's payload, or null for the other cases.
  const Open* asOpen() const { return std::get_if<Open>(&m_value); }
  const Prompt* asPrompt() const { return std::get_if<Prompt>(&m_value); }
  const OpenInApp* asOpenInApp() const { return std::get_if<OpenInApp>(&m_value); }
  const Rewrite* asRewrite() const { return std::get_if<Rewrite>(&m_value); }
  bool isIgnore() const { return std::holds_alternative<Ignore>(m_value); }

  // The JSON key of the case in an action object: "open", "prompt", "openInApp", "rewrite",
  // "ignore".
  std::string_view key() const;

  bool operator==(const RuleActionKind&) const = default;

 private:
  template <class Case>
  explicit RuleActionKind(Case value) : m_value(std::move(value)) {}
  Value m_value;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::RuleActionKind> {
  std::size_t operator()(const linkferry::RuleActionKind& kind) const noexcept;
};
