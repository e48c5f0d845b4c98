#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "foundation/Json.h"
#include "foundation/Regex.h"
#include "foundation/URL.h"

namespace linkferry {

// What a `rewrite` rule does to a link before it is routed: replace the host, rewrite the whole
// link text with a regular expression, or strip a wrapping prefix. A closed set of cases, in this
// order.
struct URLRewrite {
  struct Host {
    std::string newHost;
    bool operator==(const Host&) const = default;
  };
  // Every match of `pattern` (ICU, case-insensitive) in the full link text is replaced by the
  // ICU template `replacement` ("$1" is capture group 1).
  struct RegexReplacement {
    std::string pattern;
    std::string replacement;
    bool operator==(const RegexReplacement&) const = default;
  };
  struct StripPrefix {
    std::string prefix;
    bool operator==(const StripPrefix&) const = default;
  };
  using Value = std::variant<Host, RegexReplacement, StripPrefix>;

  static URLRewrite host(std::string newHost) { return URLRewrite{Host{std::move(newHost)}}; }
  static URLRewrite regex(std::string pattern, std::string replacement) {
    return URLRewrite{RegexReplacement{std::move(pattern), std::move(replacement)}};
  }
  static URLRewrite stripPrefix(std::string prefix) {
    return URLRewrite{StripPrefix{std::move(prefix)}};
  }

  const Value& value() const { return m_value; }

  // The rewritten link, or nothing when the rewrite does not apply (no host to replace, a pattern
  // that does not compile or finds nothing, a prefix the link does not start with), when the
  // result does not parse or has no scheme, or when it equals `url`. Never fails.
  std::optional<URL> apply(const URL& url) const;

  // The compiled pattern `apply` searches with, from the pattern cache: for a regex rewrite whose
  // pattern compiles; null otherwise. Holding it keeps the cache finding it.
  std::shared_ptr<const Regex> compiledPattern() const;

  // One localised line for the rule list: "rewrite host to %@", "rewrite %@ → %@",
  // "remove prefix %@".
  std::string summary() const;

  // Localised messages for the rule editor, at most one; empty when the rewrite is valid.
  std::vector<std::string> problems() const;

  // {"host": ...}, {"regex": ..., "replacement": ...} or {"stripPrefix": ...}.
  JsonValue toJson() const;
  // Reads `host` first, then `regex` (with `replacement`, absent = ""), then `stripPrefix`; the
  // other keys are not read once one is found. Throws JsonError when none is there.
  static URLRewrite fromJson(const JsonReader& json);

  bool operator==(const URLRewrite&) const = default;

 private:
  explicit URLRewrite(Value value) : m_value(std::move(value)) {}
  Value m_value;
};

}  // namespace linkferry

template <>
struct std::hash<linkferry::URLRewrite> {
  std::size_t operator()(const linkferry::URLRewrite& rewrite) const noexcept {
    std::hash<std::string> text;
    std::size_t hash = rewrite.value().index() * 0x9e3779b97f4a7c15ull;
    std::visit(
        [&](const auto& value) {
          using linkferry::URLRewrite;
          using Case = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<Case, URLRewrite::Host>) {
            hash ^= text(value.newHost);
          } else if constexpr (std::is_same_v<Case, URLRewrite::RegexReplacement>) {
            hash ^= text(value.pattern) * 31 + text(value.replacement);
          } else {
            hash ^= text(value.prefix);
          }
        },
        rewrite.value());
    return hash;
  }
};
