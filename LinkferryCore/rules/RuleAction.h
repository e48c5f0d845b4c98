#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include "foundation/Json.h"
#include "rules/RuleActionKind.h"

namespace linkferry {

// What a rule does, with its per-rule launch preferences.
struct RuleAction {
  RuleActionKind kind;
  // Reuse an existing tab of the target. Stored and kept through edits; launching does not read
  // it.
  bool preferExistingTab = false;
  // Absent: the global setting decides.
  std::optional<bool> newWindow = std::nullopt;
  std::optional<bool> background = std::nullopt;

  // The kind's key with its payload ("ignore" written as true), `preferExistingTab` only when
  // true, `newWindow` and `background` only when set.
  JsonValue toJson() const;
  // Exactly one of the kind keys open, prompt, openInApp, ignore, rewrite must be present (the
  // option keys and unknown keys aside), else "An action needs exactly one of open, prompt,
  // openInApp, ignore, rewrite". The value of `ignore` is not read. Throws JsonError.
  static RuleAction fromJson(const JsonReader& json);

  bool operator==(const RuleAction&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::RuleAction> {
  std::size_t operator()(const linkferry::RuleAction& action) const noexcept {
    std::size_t hash = std::hash<linkferry::RuleActionKind>()(action.kind);
    auto flag = [](const std::optional<bool>& value) -> std::size_t {
      return value ? (*value ? 1 : 2) : 3;
    };
    return hash * 31 + (action.preferExistingTab ? 7 : 11) * 17 + flag(action.newWindow) * 5 +
           flag(action.background);
  }
};
