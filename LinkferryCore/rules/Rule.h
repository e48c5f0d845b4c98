#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "foundation/Dates.h"
#include "foundation/Json.h"
#include "rules/Matcher.h"
#include "rules/RuleAction.h"

namespace linkferry {

// One routing rule: when `match` holds for a link, `action` happens. Identified by `id`.
struct Rule {
  std::string id;
  std::string name;  // shown to the user and quoted in decision reasons
  bool enabled = true;
  Matcher match;
  RuleAction action;
  // The instant from which the rule no longer applies; absent means it never expires.
  std::optional<Date> expiresAt = std::nullopt;

  // Enabled, and `now` strictly before the expiry (if any).
  bool isActive(Date now) const;
  // Has an expiry and `now` is at or after it. A disabled rule that has not expired is inactive
  // but not expired.
  bool isExpired(Date now) const;

  // Every key except `expiresAt`, which is written only when set, as an RFC 3339 date-time with
  // the offset of the machine's current time zone.
  JsonValue toJson() const;
  // `name`, `match` and `action` are required; a missing `id` becomes a fresh random UUID, a
  // missing `enabled` true. `expiresAt` must be an RFC 3339 internet date-time without fractions
  // ("2026-12-24T18:00:00+01:00"), else "expiresAt must be an ISO 8601 date, got <text>" at that
  // key. Throws JsonError.
  static Rule fromJson(const JsonReader& json);

  bool operator==(const Rule&) const = default;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::Rule> {
  std::size_t operator()(const linkferry::Rule& rule) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = text(rule.id);
    auto mix = [&hash](std::size_t value) {
      hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
    };
    mix(text(rule.name));
    mix(rule.enabled ? 1 : 2);
    mix(std::hash<linkferry::Matcher>()(rule.match));
    mix(std::hash<linkferry::RuleAction>()(rule.action));
    mix(rule.expiresAt ? std::hash<double>()(rule.expiresAt->secondsSince1970) : 0x51);
    return hash;
  }
};
