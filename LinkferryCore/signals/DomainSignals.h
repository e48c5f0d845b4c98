#pragma once

#include <unordered_map>

#include "browsers/BrowserTarget.h"
#include "signals/HistoryStat.h"
#include "signals/SessionLevel.h"

namespace linkferry {

// What the browsers know about one registrable domain: the targets signed in to it and the
// targets that visited it recently.
struct DomainSignals {
  // Only `weak` and `strong` are ever stored. Session targets carry the cookie's Firefox
  // container; history targets never do.
  std::unordered_map<BrowserTarget, SessionLevel> sessions;
  std::unordered_map<BrowserTarget, HistoryStat> history;

  bool operator==(const DomainSignals&) const = default;
};

}  // namespace linkferry
