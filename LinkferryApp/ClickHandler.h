#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ClickOutcome.h"
#include "LinuxContext.h"
#include "PickerAnswer.h"
#include "SourceApp.h"
#include "foundation/URL.h"
#include "router/PickerRequest.h"
#include "router/Router.h"

namespace linkferry {

// One clicked link as it reaches this machine's router, from `linkferry open` or from a client
// of the service.
struct Click {
  URL url;
  // The app the link was clicked in as the user named it; otherwise found from `clientPid`.
  std::optional<std::string> sourceApp{};
  // The process the link came through (its first ancestor that belongs to an installed desktop
  // entry is the source app); 0 when unknown.
  int clientPid = 0;
  // The environment the link was clicked in: its display, session and focus variables give the
  // click's context and go to the browser it starts.
  std::map<std::string, std::string> environment{};
  bool pick = false;    // always ask, whatever was decided
  bool dryRun = false;  // decide, log, and show the command instead of running it
  // No terminal shows this click's outcome: what went wrong is told as a desktop notification
  // (ClickNotice), when the settings allow it.
  bool unattended = false;
};

// The one click path of every process: the context of a click gathered (the source app from the
// process ancestry, the window in front, the screen lock, the networks), the link routed, its
// outcome told as `linkferry open` shows it, and the picker's answer carried back to the router
// later by the request's id. Safe from any thread; clicks run side by side (see Router).
class ClickHandler {
 public:
  using Environment = std::map<std::string, std::string>;

  // Why a link is never routed, nothing when it may be: a web link without a host ("https://",
  // "http:") opens nowhere, and a javascript:, vbscript: or data: link runs or shows whatever its
  // sender wrote, so no click may offer it to a browser. The schemes compare in lower case.
  static std::optional<std::string> refusal(const URL& url);

  // `environment`: this process's own (XDG folders, PATH); a click's variables take precedence.
  // Reads the desktop entries.
  ClickHandler(std::shared_ptr<Router> router, std::filesystem::path home,
               Environment environment);

  // Reads the desktop entries again: the apps links are clicked in, the apps that open app links.
  void reloadDesktopEntries();

  // Told the outcome of a click as soon as the browser it opens has started, while its launch is
  // still being judged, so whoever waits for the click need not wait for the browser. Called at
  // most once, on the click's thread; must not throw.
  using Answer = std::function<void(const ClickOutcome&)>;

  // Routes one click. Never throws. A "pick" outcome's request waits for `answer` (the oldest
  // are forgotten beyond kMaxPending). With `early`, the click is answered as soon as its browser
  // started; a launch that fails after that (every fallback included) is shown as a desktop
  // notification, since nobody waits for the returned outcome any more, and its log entry keeps
  // the failure, waiting for a choice like any picker request. An unattended click that ends
  // here (not a "pick") gets the notification its outcome calls for; at most one per click.
  ClickOutcome route(const Click& click, const Answer& early = {});

  // Carries the user's answer to a waiting picker back to the router: opens the chosen row
  // (remembered, private, as asked) or cancels; an unasked answer opens the best candidate that
  // starts (Router::openUnasked). `environment` is the answer's click environment (the browser's
  // focus and its session bus). An unattended answer gets the notification its outcome calls for. Throws std::invalid_argument when no picker waits for the id or the
  // row does not exist (the picker then still waits). A launch that fails gives "failed".
  // `early` as for `route`.
  ClickOutcome answer(const PickerAnswer& answer, const Environment& environment,
                      const Answer& early = {});

  // The picker request waiting for `id`.
  std::optional<PickerRequest> waiting(const std::string& id) const;

  Router& router() const { return *m_router; }

  static constexpr std::size_t kMaxPending = 256;
  // The longest outcome of a "pick" (its JSON) that carries the picker window's input: well
  // below the 128 KiB Linux allows for one argument of a program.
  static constexpr std::size_t kMaxHandedOverOutcome = 96 * 1024;

 private:
  struct Pending {
    PickerRequest request;
    bool dryRun = false;
  };
  // `trace`, when given, is the click's trace (else the log entry's).
  ClickOutcome outcomeOf(const RouterResult& result, const URL& link, const RouterState& state,
                         const std::vector<std::string>* trace = nullptr) const;
  // Shows the desktop notification `outcome` calls for (ClickNotice) on the session of the
  // click's `environment`, unless the settings turned them off. `lateFailure`: see ClickNotice.
  void notify(const ClickOutcome& outcome, const Environment& environment,
              const std::optional<std::string>& lateFailure = std::nullopt) const;
  std::vector<std::string> traceOf(const Uuid& id) const;
  // Says when the log did not take the click, so no click is reported as logged when it was not.
  void noteLogProblem(ClickOutcome& outcome) const;

  const std::shared_ptr<Router> m_router;
  const std::filesystem::path m_home;
  const Environment m_environment;
  const LinuxContext::Gatherer m_context;

  mutable std::mutex m_mutex;
  std::shared_ptr<const AncestrySourceAppFinder> m_sourceApps;
  std::shared_ptr<const std::set<std::string>> m_installedApps;
  std::deque<Pending> m_pending;
};

}  // namespace linkferry
