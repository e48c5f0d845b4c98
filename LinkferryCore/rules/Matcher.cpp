#include "rules/Matcher.h"

#include <type_traits>

#include "foundation/Overloaded.h"
#include "foundation/Regex.h"

namespace linkferry {
namespace {

JsonValue membersJson(const std::vector<Matcher>& members) {
  JsonValue list = JsonValue::array();
  for (const Matcher& member : members) list.push_back(member.toJson());
  return list;
}

std::vector<Matcher> membersFromJson(const JsonReader& json) {
  std::vector<Matcher> members;
  for (const JsonReader& element : json.elements()) members.push_back(Matcher::fromJson(element));
  return members;
}

// Compiled with the options every condition searches with.
std::shared_ptr<const Regex> compiled(const std::string& expression) {
  return Regex::cached(expression, Regex::Options::caseInsensitive);
}

}  // namespace

Matcher Matcher::hostRegex(std::string expression) {
  auto regex = compiled(expression);
  return Matcher(HostRegex{std::move(expression), std::move(regex)});
}

Matcher Matcher::urlRegex(std::string expression) {
  auto regex = compiled(expression);
  return Matcher(URLRegex{std::move(expression), std::move(regex)});
}

Matcher Matcher::sourceWindow(std::string expression) {
  auto regex = compiled(expression);
  return Matcher(SourceWindow{std::move(expression), std::move(regex)});
}

bool Matcher::Not::operator==(const Not& other) const {
  return member == other.member || *member == *other.member;
}

const std::array<Matcher::Kind, Matcher::kKindCount>& Matcher::allKinds() {
  static constexpr std::array<Kind, kKindCount> kinds = {
      Kind::host,  Kind::hostRegex, Kind::pathPrefix,   Kind::urlRegex, Kind::scheme,
      Kind::query, Kind::sourceApp, Kind::sourceWindow, Kind::network,  Kind::timeWindow,
      Kind::all,   Kind::any,       Kind::not_,
  };
  return kinds;
}

std::string_view Matcher::key(Kind kind) {
  switch (kind) {
    case Kind::host:
      return "host";
    case Kind::hostRegex:
      return "hostRegex";
    case Kind::pathPrefix:
      return "pathPrefix";
    case Kind::urlRegex:
      return "urlRegex";
    case Kind::scheme:
      return "scheme";
    case Kind::query:
      return "query";
    case Kind::sourceApp:
      return "sourceApp";
    case Kind::sourceWindow:
      return "sourceWindow";
    case Kind::network:
      return "network";
    case Kind::timeWindow:
      return "timeWindow";
    case Kind::all:
      return "all";
    case Kind::any:
      return "any";
    case Kind::not_:
      return "not";
  }
  return "";
}

JsonValue Matcher::toJson() const {
  JsonValue payload =
      std::visit(Overloaded{
                     [](const Host& m) -> JsonValue { return m.pattern; },
                     [](const HostRegex& m) -> JsonValue { return m.expression; },
                     [](const PathPrefix& m) -> JsonValue { return m.prefix; },
                     [](const URLRegex& m) -> JsonValue { return m.expression; },
                     [](const Scheme& m) -> JsonValue { return m.value; },
                     [](const Query& m) -> JsonValue {
                       JsonValue query = JsonValue::object();
                       query["key"] = m.key;
                       if (m.value) query["value"] = *m.value;
                       return query;
                     },
                     [](const SourceApp& m) -> JsonValue { return m.bundleID; },
                     [](const SourceWindow& m) -> JsonValue { return m.expression; },
                     [](const Network& m) -> JsonValue { return m.name; },
                     [](const TimeWindow& m) -> JsonValue { return m.toJson(); },
                     [](const All& m) -> JsonValue { return membersJson(m.members); },
                     [](const Any& m) -> JsonValue { return membersJson(m.members); },
                     [](const Not& m) -> JsonValue { return m.member->toJson(); },
                 },
                 m_value);
  JsonValue json = JsonValue::object();
  json[std::string(key(kind()))] = std::move(payload);
  return json;
}

Matcher Matcher::fromJson(const JsonReader& json) {
  if (!json.isObject()) json.fail("expected an object, got " + Json::typeName(json.value()));
  std::vector<Kind> found;
  for (Kind kind : allKinds()) {
    if (json.value().contains(key(kind))) found.push_back(kind);
  }
  if (found.size() != 1) {
    std::string list;
    for (Kind kind : found) {
      if (!list.empty()) list += ", ";
      list += "\"" + std::string(key(kind)) + "\"";
    }
    std::string message = "A matcher needs exactly one known key, got [" + list + "]";
    // With no matcher key at all, the keys that are there are most likely a misspelt one
    // ("hots"): name them, so the user sees what to correct.
    if (found.empty()) {
      constexpr std::size_t kNamed = 5;
      std::string unknown;
      std::size_t count = 0;
      for (const std::string& name : json.keys()) {
        if (++count > kNamed) continue;
        unknown += (unknown.empty() ? "\"" : ", \"") + name + "\"";
      }
      if (count > kNamed) unknown += ", …";
      if (count > 0) message += (count == 1 ? " (unknown key " : " (unknown keys ") + unknown + ")";
    }
    json.fail(message);
  }
  const Kind kind = found.front();
  const JsonReader payload = json[key(kind)];
  switch (kind) {
    case Kind::host:
      return host(payload.string());
    case Kind::hostRegex:
      return hostRegex(payload.string());
    case Kind::pathPrefix:
      return pathPrefix(payload.string());
    case Kind::urlRegex:
      return urlRegex(payload.string());
    case Kind::scheme:
      return scheme(payload.string());
    case Kind::query: {
      std::string name = payload["key"].string();
      auto value = payload.optional("value");
      return query(std::move(name), value ? std::optional(value->string()) : std::nullopt);
    }
    case Kind::sourceApp:
      return sourceApp(payload.string());
    case Kind::sourceWindow:
      return sourceWindow(payload.string());
    case Kind::network:
      return network(payload.string());
    case Kind::timeWindow:
      return timeWindow(TimeWindow::fromJson(payload));
    case Kind::all:
      return all(membersFromJson(payload));
    case Kind::any:
      return any(membersFromJson(payload));
    case Kind::not_:
      return not_(fromJson(payload));
  }
  json.fail("A matcher needs exactly one known key");
}

std::string Matcher::json() const {
  return Json::encodeCompact(toJson());
}

Matcher Matcher::fromJsonText(std::string_view text, std::string_view file) {
  JsonValue document = Json::parse(text, file);
  return fromJson(JsonReader(document, std::string(file)));
}

}  // namespace linkferry

std::size_t std::hash<linkferry::Matcher>::operator()(
    const linkferry::Matcher& matcher) const noexcept {
  using linkferry::Matcher;
  std::hash<std::string> text;
  std::size_t hash = matcher.value().index() * 0x9e3779b97f4a7c15ull;
  auto mix = [&hash](std::size_t value) {
    hash ^= value + 0x9e3779b97f4a7c15ull + (hash << 6) + (hash >> 2);
  };
  auto mixMembers = [&](const std::vector<Matcher>& members) {
    for (const Matcher& member : members) mix((*this)(member));
  };
  std::visit(
      linkferry::Overloaded{
          [&](const Matcher::Host& m) { mix(text(m.pattern)); },
          [&](const Matcher::HostRegex& m) { mix(text(m.expression)); },
          [&](const Matcher::PathPrefix& m) { mix(text(m.prefix)); },
          [&](const Matcher::URLRegex& m) { mix(text(m.expression)); },
          [&](const Matcher::Scheme& m) { mix(text(m.value)); },
          [&](const Matcher::Query& m) {
            mix(text(m.key));
            mix(m.value ? text(*m.value) : 0x51);
          },
          [&](const Matcher::SourceApp& m) { mix(text(m.bundleID)); },
          [&](const Matcher::SourceWindow& m) { mix(text(m.expression)); },
          [&](const Matcher::Network& m) { mix(text(m.name)); },
          [&](const linkferry::TimeWindow& m) { mix(std::hash<linkferry::TimeWindow>()(m)); },
          [&](const Matcher::All& m) { mixMembers(m.members); },
          [&](const Matcher::Any& m) { mixMembers(m.members); },
          [&](const Matcher::Not& m) { mix((*this)(*m.member)); },
      },
      matcher.value());
  return hash;
}
