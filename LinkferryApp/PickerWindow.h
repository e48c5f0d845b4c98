#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "PickerProtocol.h"
#include "browsers/BrowserCatalog.h"
#include "router/PickerRequest.h"
#include "rules/RememberDuration.h"
#include "rules/RememberScope.h"
#include "settings/AppSettings.h"

// The picker window for a process without a terminal: runs the `linkferry-picker` program with a
// request and reads back what the user chose.
namespace linkferry::PickerWindow {

// The `linkferry-picker` beside the running program, when `environment` names a display (DISPLAY
// or WAYLAND_DISPLAY) and that program is there; nothing otherwise.
std::optional<std::string> program(const std::map<std::string, std::string>& environment);

// What the window is given: the request with each candidate's label and avatar, the settings'
// visible count, columns, placement and "remember for" durations, and the scopes a choice can be
// remembered for on this link (page, host, domain, and the app window when the request names an
// app and window title it recognises), the domain selected first.
PickerProtocol::Input input(const PickerRequest& request, const BrowserCatalog& catalog,
                            const AppSettings& settings);

// What the user did.
struct Result {
  enum class Kind { chosen, cancelled, failed };
  Kind kind = Kind::cancelled;
  std::size_t index = 0;                     // the candidate chosen
  bool privateMode = false;                  // open it in a private window
  std::optional<RememberScope> remember;     // remember the choice for this scope
  std::optional<std::string> scopeID;        // that scope's id ("page", "host", …)
  std::optional<std::string> pattern;        // with scopeID "pattern": the expression chosen
  std::optional<RememberDuration> duration;  // for this long; for good when absent
  std::string error;                         // why the window could not answer (failed)
};

// Shows the window and waits for the answer. A window that cannot start, fails or answers
// something that is not a choice among the candidates gives `failed` with the reason.
Result show(const std::string& program, const PickerRequest& request,
            const BrowserCatalog& catalog, const AppSettings& settings);
// The same for an input made already (by the service, which has the catalog and settings).
Result show(const std::string& program, const PickerProtocol::Input& input);

// What an answer of the window (cold or warm) means for `request`: a choice of a row that does
// not exist gives `failed`.
Result resultOf(const std::string& program, const PickerRequest& request,
                const PickerProtocol::Answer& answer);

// The scope the window offers for `request` under `id` ("page", "host", "domain", "appWindow",
// "pattern"), when it offers it. "pattern" stands for `pattern` when that is a valid expression
// (RuleAuthoring::isValidRegex) and for the offered page expression when `pattern` is absent;
// an invalid pattern gives nothing, so nothing is remembered.
std::optional<RememberScope> scope(const PickerRequest& request, std::string_view id,
                                   const std::optional<std::string>& pattern = std::nullopt);

}  // namespace linkferry::PickerWindow
