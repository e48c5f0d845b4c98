#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ClickOutcome.h"
#include "PickerWindow.h"
#include "TerminalPicker.h"
#include "browsers/BrowserCatalog.h"
#include "foundation/Json.h"
#include "router/PickerRequest.h"
#include "router/Router.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"
#include "settings/DecisionLog.h"

namespace linkferry {

// The user's answer to a picker, from the terminal, the window or a client of the service.
struct PickerChoice {
  bool cancel = true;
  std::size_t index = 0;  // the candidate chosen
  bool privateMode = false;
  std::optional<RememberScope> remember;     // remember the choice for this scope
  std::optional<RememberDuration> duration;  // for this long; for good when absent

  // The terminal's "r" remembers for the link's domain.
  static PickerChoice from(const TerminalPicker::Answer& answer);
  // A failed window counts as cancelled; callers report its error first.
  static PickerChoice from(const PickerWindow::Result& result);
};

// Routing one click and carrying the picker's answer back, the same in every process.
namespace ClickRouting {

// Routes `request`; a "pick" outcome holds the picker request and its rows, and `picker`, when
// given, receives the request itself for the answer. Never throws.
ClickOutcome route(Router& router, DecisionLog& log, const LinkRequest& request,
                   const RoutingContext& context, bool alwaysPick,
                   std::optional<PickerRequest>* picker = nullptr);

// The picker's answer for `request`: choose (the row, optionally remembered, optionally private)
// or cancel. An index that names no candidate cancels; a choice whose launch fails gives "failed"
// with the error. Never throws.
ClickOutcome answer(Router& router, DecisionLog& log, const PickerRequest& request,
                    const PickerChoice& answer);

}  // namespace ClickRouting

}  // namespace linkferry
