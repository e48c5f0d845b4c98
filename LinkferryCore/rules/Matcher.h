#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "foundation/Json.h"
#include "rules/TimeWindow.h"

namespace linkferry {

class Regex;

// The condition of a rule: a closed, recursive set of 13 cases, in this order. What each case
// means for a link is RuleEvaluator::matches; the JSON key of each case is its name.
// Immutable once built: `not` shares its member between copies, which is safe because nothing
// can change it.
struct Matcher {
  // The link's host matches this wildcard pattern ("*", "?"), ignoring case; a leading "*." also
  // matches the bare domain.
  struct Host {
    std::string pattern;
    bool operator==(const Host&) const = default;
  };
  // The regular expression finds a match in the host, ignoring case.
  struct HostRegex {
    std::string expression;
    // The expression compiled case-insensitively, as evaluation searches with it; null when it
    // does not compile. Derived from the expression, so equality and hashing ignore it.
    std::shared_ptr<const Regex> compiled = nullptr;
    bool operator==(const HostRegex& other) const { return expression == other.expression; }
  };
  // The link's decoded path starts with this text, with case.
  struct PathPrefix {
    std::string prefix;
    bool operator==(const PathPrefix&) const = default;
  };
  // The regular expression finds a match in the whole link text, ignoring case.
  struct URLRegex {
    std::string expression;
    // The expression compiled case-insensitively, as evaluation searches with it; null when it
    // does not compile. Derived from the expression, so equality and hashing ignore it.
    std::shared_ptr<const Regex> compiled = nullptr;
    bool operator==(const URLRegex& other) const { return expression == other.expression; }
  };
  // The link's scheme equals this, ignoring case.
  struct Scheme {
    std::string value;
    bool operator==(const Scheme&) const = default;
  };
  // A query item is named `key` and, when `value` is given, has exactly that value.
  struct Query {
    std::string key;
    std::optional<std::string> value = std::nullopt;
    bool operator==(const Query&) const = default;
  };
  // The app the link came from has this bundle identifier, ignoring case.
  struct SourceApp {
    std::string bundleID;
    bool operator==(const SourceApp&) const = default;
  };
  // The regular expression finds a match in the title of the window the link came from.
  struct SourceWindow {
    std::string expression;
    // The expression compiled case-insensitively, as evaluation searches with it; null when it
    // does not compile. Derived from the expression, so equality and hashing ignore it.
    std::shared_ptr<const Regex> compiled = nullptr;
    bool operator==(const SourceWindow& other) const { return expression == other.expression; }
  };
  // The network name is among the context's active networks, with case.
  struct Network {
    std::string name;
    bool operator==(const Network&) const = default;
  };
  // Every member matches; an empty list matches.
  struct All {
    std::vector<Matcher> members;
    bool operator==(const All&) const = default;
  };
  // Some member matches; an empty list never matches.
  struct Any {
    std::vector<Matcher> members;
    bool operator==(const Any&) const = default;
  };
  // The member does not match.
  struct Not {
    std::shared_ptr<const Matcher> member;  // never null
    bool operator==(const Not& other) const;
  };
  using Value = std::variant<Host, HostRegex, PathPrefix, URLRegex, Scheme, Query, SourceApp,
                             SourceWindow, Network, TimeWindow, All, Any, Not>;

  // The cases in order; the index of each equals its index in `Value`.
  enum class Kind {
    host,
    hostRegex,
    pathPrefix,
    urlRegex,
    scheme,
    query,
    sourceApp,
    sourceWindow,
    network,
    timeWindow,
    all,
    any,
    not_,
  };
  static constexpr std::size_t kKindCount = 13;
  static const std::array<Kind, kKindCount>& allKinds();
  // The JSON key of a case: "host", ..., "not".
  static std::string_view key(Kind kind);

  static Matcher host(std::string pattern) { return Matcher(Host{std::move(pattern)}); }
  // The cases holding a regular expression compile it once, here (through the pattern cache).
  static Matcher hostRegex(std::string expression);
  static Matcher pathPrefix(std::string prefix) { return Matcher(PathPrefix{std::move(prefix)}); }
  static Matcher urlRegex(std::string expression);
  static Matcher scheme(std::string value) { return Matcher(Scheme{std::move(value)}); }
  static Matcher query(std::string key, std::optional<std::string> value = std::nullopt) {
    return Matcher(Query{std::move(key), std::move(value)});
  }
  static Matcher sourceApp(std::string bundleID) { return Matcher(SourceApp{std::move(bundleID)}); }
  static Matcher sourceWindow(std::string expression);
  static Matcher network(std::string name) { return Matcher(Network{std::move(name)}); }
  static Matcher timeWindow(TimeWindow window) { return Matcher(std::move(window)); }
  static Matcher all(std::vector<Matcher> members) { return Matcher(All{std::move(members)}); }
  static Matcher any(std::vector<Matcher> members) { return Matcher(Any{std::move(members)}); }
  static Matcher not_(Matcher member) {
    return Matcher(Not{std::make_shared<const Matcher>(std::move(member))});
  }

  const Value& value() const { return m_value; }
  Kind kind() const { return static_cast<Kind>(m_value.index()); }

  // The rule-file form: an object with the case's key alone.
  JsonValue toJson() const;
  // Reads the rule-file form. The object must hold exactly one of the 13 case keys (other keys
  // are ignored), else it fails with "A matcher needs exactly one known key, got [...]" listing
  // the case keys found. Throws JsonError at the reader's key path.
  static Matcher fromJson(const JsonReader& json);

  // The rule-file form as compact JSON text with sorted keys.
  std::string json() const;
  // Parses such text (the same grammar and messages as the rule file). Throws JsonError naming
  // `file`.
  static Matcher fromJsonText(std::string_view text, std::string_view file = "matcher");

  bool operator==(const Matcher&) const = default;

 private:
  template <class Case>
  explicit Matcher(Case value) : m_value(std::move(value)) {}
  Value m_value;
};

}  // namespace linkferry

// Structural, consistent with ==.
template <>
struct std::hash<linkferry::Matcher> {
  std::size_t operator()(const linkferry::Matcher& matcher) const noexcept;
};
