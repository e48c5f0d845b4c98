#include "signals/SignalIndex.h"

#include <algorithm>

#include "safety/Punycode.h"

namespace linkferry {

namespace {

template <typename Value>
std::vector<std::pair<const BrowserTarget*, const Value*>> sortedByTarget(
    const std::unordered_map<BrowserTarget, Value>& map) {
  std::vector<std::pair<const BrowserTarget*, const Value*>> entries;
  entries.reserve(map.size());
  for (const auto& [target, value] : map) entries.emplace_back(&target, &value);
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    return a.first->description() < b.first->description();
  });
  return entries;
}

}  // namespace

SignalIndex SignalIndex::empty() {
  return SignalIndex{{}, Date{kDistantPast}, {}};
}

std::optional<DomainSignals> SignalIndex::signals(std::string_view registrableDomain) const {
  // The index is keyed by site keys (ASCII, lower-cased); a domain in Unicode or upper case is
  // brought to that form first.
  const bool isKey = std::none_of(registrableDomain.begin(), registrableDomain.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80;
  });
  std::optional<std::string> key =
      isKey ? std::string(registrableDomain) : Punycode::toASCIIHost(registrableDomain);
  if (!key) return std::nullopt;
  auto found = domains.find(*key);
  if (found == domains.end()) return std::nullopt;
  return found->second;
}

JsonValue SignalIndex::toJson() const {
  JsonValue domainsJson = JsonValue::object();
  for (const auto& [domain, signals] : domains) {
    JsonValue sessions = JsonValue::array();
    for (const auto& [target, level] : sortedByTarget(signals.sessions)) {
      sessions.push_back({{"target", target->toJson()}, {"level", std::string(toString(*level))}});
    }
    JsonValue history = JsonValue::array();
    for (const auto& [target, stat] : sortedByTarget(signals.history)) {
      history.push_back({{"target", target->toJson()},
                         {"lastVisit", RFC3339::formatUTC(stat->lastVisit)},
                         {"visits", stat->visits}});
    }
    domainsJson[domain] = {{"sessions", std::move(sessions)}, {"history", std::move(history)}};
  }
  JsonValue issuesJson = JsonValue::array();
  for (const SourceIssue& issue : issues) {
    issuesJson.push_back(
        {{"target", issue.target.toJson()}, {"source", issue.source}, {"message", issue.message}});
  }
  return {{"builtAt", RFC3339::formatUTC(builtAt)},
          {"domains", std::move(domainsJson)},
          {"issues", std::move(issuesJson)}};
}

SignalIndex SignalIndex::fromJson(const JsonReader& json) {
  const auto date = [](const JsonReader& text) {
    const std::optional<Date> parsed = RFC3339::parse(text.string());
    if (!parsed) text.fail("not an RFC 3339 date");
    return *parsed;
  };
  SignalIndex index;
  index.builtAt = date(json["builtAt"]);
  const JsonReader domains = json["domains"];
  for (const std::string& domain : domains.keys()) {
    DomainSignals& signals = index.domains[domain];
    for (const JsonReader& session : domains[domain]["sessions"].elements()) {
      const std::string name = session["level"].string();
      std::optional<SessionLevel> level;
      for (int raw = 0; raw < 3 && !level; ++raw) {
        if (auto candidate = sessionLevelFromRawValue(raw); candidate && toString(*candidate) == name) {
          level = candidate;
        }
      }
      if (!level) session["level"].fail("not a session level");
      signals.sessions[BrowserTarget::fromJson(session["target"])] = *level;
    }
    for (const JsonReader& visit : domains[domain]["history"].elements()) {
      signals.history[BrowserTarget::fromJson(visit["target"])] =
          HistoryStat{date(visit["lastVisit"]), visit["visits"].integer()};
    }
  }
  for (const JsonReader& issue : json["issues"].elements()) {
    index.issues.push_back(SourceIssue{BrowserTarget::fromJson(issue["target"]),
                                       issue["source"].string(), issue["message"].string()});
  }
  return index;
}

}  // namespace linkferry
