#pragma once

#include <utility>
#include <variant>

#include "foundation/Uuid.h"
#include "router/PickerRequest.h"
#include "routing/Reason.h"
#include "routing/RouteTarget.h"

namespace linkferry {

// How Router::handle ended for one link.
struct RouterResult {
  // The link was opened; `id` is its decision-log entry.
  struct Opened {
    Uuid id;
    RouteTarget target;
    Reason reason;
    bool operator==(const Opened&) const = default;
  };
  // An ignore rule matched; nothing was opened.
  struct Ignored {
    Uuid id;
    bool operator==(const Ignored&) const = default;
  };
  // The user must choose; the log entry stays pending until Router::choose or Router::cancel.
  struct Pick {
    PickerRequest request;
    bool operator==(const Pick&) const = default;
  };
  using Value = std::variant<Opened, Ignored, Pick>;

  static RouterResult opened(Uuid id, RouteTarget target, Reason reason) {
    return RouterResult(Opened{id, std::move(target), std::move(reason)});
  }
  static RouterResult ignored(Uuid id) { return RouterResult(Ignored{id}); }
  static RouterResult pick(PickerRequest request) {
    return RouterResult(Pick{std::move(request)});
  }

  const Value& value() const { return m_value; }
  const Opened* asOpened() const { return std::get_if<Opened>(&m_value); }
  const Ignored* asIgnored() const { return std::get_if<Ignored>(&m_value); }
  const Pick* asPick() const { return std::get_if<Pick>(&m_value); }
  // The log entry of the link, whatever the case.
  Uuid id() const;

  bool operator==(const RouterResult&) const = default;

 private:
  template <class Case>
  explicit RouterResult(Case value) : m_value(std::move(value)) {}
  Value m_value;
};

}  // namespace linkferry
