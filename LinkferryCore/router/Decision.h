#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "routing/Candidate.h"
#include "routing/Reason.h"
#include "routing/RouteTarget.h"

namespace linkferry {

// How a decision ends: a route to one target with its reason, or candidates for the user.
struct Outcome {
  struct Route {
    RouteTarget target;
    Reason reason;
    bool operator==(const Route&) const = default;
  };
  // Best first; no reason is carried with it.
  struct Ask {
    std::vector<Candidate> candidates;
    bool operator==(const Ask&) const = default;
  };
  using Value = std::variant<Route, Ask>;

  static Outcome route(RouteTarget target, Reason reason) {
    return Outcome(Route{std::move(target), std::move(reason)});
  }
  static Outcome ask(std::vector<Candidate> candidates) {
    return Outcome(Ask{std::move(candidates)});
  }

  const Value& value() const { return m_value; }
  const Route* asRoute() const { return std::get_if<Route>(&m_value); }
  const Ask* asAsk() const { return std::get_if<Ask>(&m_value); }

  // The stage of the reason of a route; nothing for ask.
  std::optional<std::string> reasonStage() const {
    if (const Route* route = asRoute()) return route->reason.stage;
    return std::nullopt;
  }

  bool operator==(const Outcome&) const = default;

 private:
  template <class Case>
  explicit Outcome(Case value) : m_value(std::move(value)) {}
  Value m_value;
};

// One line of a decision's trace: what a stage said and how long it ran.
struct TraceEntry {
  std::string stage;
  std::string summary;
  // Measured on a monotonic clock.
  std::chrono::nanoseconds duration{0};

  bool operator==(const TraceEntry&) const = default;
};

struct Decision {
  Outcome outcome;
  // One entry per stage that ran, in running order.
  std::vector<TraceEntry> trace;

  bool operator==(const Decision&) const = default;
};

}  // namespace linkferry
