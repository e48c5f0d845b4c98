#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "PickerWindow.h"
#include "TerminalPicker.h"
#include "foundation/Json.h"
#include "router/PickerRequest.h"
#include "rules/RememberDuration.h"
#include "rules/RememberScope.h"

namespace linkferry {

// The user's answer to one picker request, from the terminal or the window: what a client sends
// the service as its "choose" or "cancel" request, and what the click handler carries back to
// the router.
struct PickerAnswer {
  std::string id;  // the picker request's id (its log entry)
  bool cancel = true;
  std::size_t index = 0;  // the candidate chosen
  bool privateMode = false;
  // The choice is remembered for a scope the window offered, by its id ("page", "host",
  // "domain", "appWindow", "pattern" with `pattern`), or, from the terminal's "r", for the link's
  // domain; for `duration`, or for good when absent.
  std::optional<std::string> scope;
  std::optional<std::string> pattern;
  bool rememberDomain = false;
  std::optional<RememberDuration> duration;
  // Nobody could be asked (no terminal, no display the picker could open on): why, and the
  // candidates are tried from `index` on in their stead. The click is then routed, not picked.
  std::optional<std::string> unasked;
  // The user sees nothing of the outcome but the desktop (a window answered, or nobody did):
  // what went wrong is told as a desktop notification.
  bool unattended = false;

  bool operator==(const PickerAnswer&) const = default;

  static PickerAnswer from(std::string id, const TerminalPicker::Answer& answer);
  // A failed window counts as cancelled; callers report its error first. Unattended.
  static PickerAnswer from(std::string id, const PickerWindow::Result& result);
  // The best candidate opened because nobody could be asked, for `why`. Unattended.
  static PickerAnswer unaskedFor(std::string id, std::string why);

  // The scope to remember the choice for on `request`; nothing when none was asked for or the
  // window's scope does not apply (an invalid pattern).
  std::optional<RememberScope> rememberScope(const PickerRequest& request) const;

  // {"request": "choose" | "cancel", "id", "index", "privateMode", and "scope", "pattern",
  // "remember", "duration", "unasked", "unattended" when they apply}.
  JsonValue toJson() const;
  // A "choose" or "cancel" request; throws JsonError naming the key path.
  static PickerAnswer fromJson(const JsonReader& request);
};

}  // namespace linkferry
