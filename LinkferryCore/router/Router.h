#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Dates.h"
#include "foundation/URL.h"
#include "foundation/Uuid.h"
#include "launching/LaunchPlan.h"
#include "launching/LaunchRunner.h"
#include "launching/OpenOptions.h"
#include "preparation/ShortLinkExpansion.h"
#include "settings/AlternativeBrowser.h"
#include "router/Decision.h"
#include "router/PickerRequest.h"
#include "router/Pipeline.h"
#include "router/RouterResult.h"
#include "router/RouterState.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"
#include "rules/RememberDuration.h"
#include "rules/RememberScope.h"
#include "settings/DecisionLog.h"

namespace linkferry {

// A launch whose plan and every fallback failed. Its description keeps what the first plan said
// (usually what the user can act on) ahead of each fallback's failure:
// "<first error>; fallback failed: <error>; …".
class LaunchFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The entry point of the core for every link: prepares it, records it in the decision log, runs
// the pipeline, applies the user's global choices (always ask, link safety, the locked screen)
// and then opens the link, ignores it, or returns a picker request; carries the picker's answer
// back (choose, cancel) and opens targets the user named directly.
//
// Operations run one at a time (each holds the router's lock for its whole run, including the
// launch it makes), and each works on a copy of the state taken at its start, so a setter called
// from another thread affects only later operations. Callable from any thread.
class Router {
 public:
  // Writes a rule set (normally RuleSet::save on the rules file); may throw.
  using SaveRules = std::function<void(const RuleSet&)>;

  // A pipeline trace entry as a log line: "[stage] summary (12.3 ms)".
  static std::string traceLine(const TraceEntry& entry);

  // The stages whose decisions are only guesses: "session", "history", "context".
  static const std::set<std::string, std::less<>>& guessStages();

  // `expander` may be null: short links are then not expanded. Null parts of the state count as
  // empty, null settings as the defaults.
  Router(RouterState state, std::shared_ptr<DecisionLog> log, std::shared_ptr<LaunchRunner> runner,
         std::shared_ptr<const ShortLinkExpanding> expander, SaveRules saveRules);

  RouterState state() const;
  void setCatalog(std::shared_ptr<const BrowserCatalog> catalog);
  void setRules(std::shared_ptr<const RuleSet> rules);
  void setIndex(std::shared_ptr<const SignalIndex> index);
  // Also hands the log its new history keeping and retention.
  void setSettings(std::shared_ptr<const AppSettings> settings);

  // Routes one clicked link. Never fails: a failed launch becomes a picker request with the note
  // "Could not open in <label>: <error>" and a log entry left pending with the failure in its
  // trace. `alwaysPick` and ClickOverride::pick force the picker even on a locked screen.
  RouterResult handle(const LinkRequest& request, const RoutingContext& context, bool alwaysPick,
                      const ClickOverride& override);

  // What `handle` would decide, without expanding short links, cleaning trackers, checking
  // safety, logging or launching: the pipeline's decision with one "prepare" trace entry per
  // preparation line in front. `prepared`, when given, receives the prepared link (what a launch
  // would open).
  Decision test(const LinkRequest& request, const RoutingContext& context,
                std::optional<URL>* prepared = nullptr) const;

  // The picker request for a logged link, routed again without preparation. With `newEntry` the
  // link is recorded as a new pending entry; otherwise the request answers the entry itself.
  PickerRequest offer(const LogEntry& entry, const RoutingContext& context, bool newEntry);

  // Opens `target` with `url`: the plan's warnings, or in a dry run the command lines that would
  // run ("dry run: …", "dry run, if that fails: …"). A plan that fails falls back in order; the
  // lines then say so. Throws LaunchError or std::invalid_argument when no plan can be made, the
  // runner's error when a plan without fallbacks fails, LaunchFailure when all fallbacks fail.
  std::vector<std::string> launch(const RouteTarget& target, const URL& url,
                                  const OpenOptions& options);

  // The plan `handle` runs for `route` decided for `request`: the settings' launch options,
  // combined with the deciding rule's own when the rules decided. Nothing for an ignore target.
  // Throws like LaunchCommand::plan.
  std::optional<LaunchPlan> plan(const Outcome::Route& route, const LinkRequest& request,
                                 const RoutingContext& context) const;

  // The picker's list for these candidates: the pipeline's suggestions that are visible, then
  // every other visible target (by use when the settings say so).
  std::vector<Candidate> pickerList(const std::vector<Candidate>& candidates);

  // Starts or brings up the browser of `target` without a link. Throws like `launch`.
  std::vector<std::string> openBrowser(const BrowserTarget& target);

  // Opens the link where the user named it, logging it as routed for `reason`; returns the log
  // entry. Throws like `launch`, after logging the entry as failed.
  Uuid open(const LinkRequest& request, const BrowserTarget& target, const std::string& reason);

  // The picker's answer for entry `id`: optionally remembers the choice as a rule (never for a
  // private window), then opens `url` in `target` and logs it as picked. A rule that cannot be
  // made or saved is noted in the log; the link is opened all the same. Throws like `launch`,
  // after logging the entry as failed (a rule saved before stays saved).
  void choose(const Uuid& id, const URL& url, const BrowserTarget& target,
              const std::optional<RememberScope>& remember, bool privateMode,
              std::optional<OpenIn> openIn, const std::optional<RememberDuration>& duration,
              Date now);

  // The picker was dismissed: the entry becomes cancelled, with `note` as its only added line.
  void cancel(const Uuid& id, const std::optional<std::string>& note);

 private:
  // What the router derives from its state for every link, built once per state change: the
  // standard pipeline, and the visible targets in the user's order (the pipeline's target order
  // and the picker's full list).
  struct Derived {
    std::shared_ptr<const Pipeline> pipeline;
    std::shared_ptr<const std::vector<BrowserTarget>> visible;
  };
  // Rebuilds `m_derived` after `m_state` changed; the caller holds the lock.
  void stateChanged();

  std::vector<std::string> launchLocked(const RouterState& state, const RouteTarget& target,
                                        const URL& url, const OpenOptions& options);
  std::vector<Candidate> pickerListLocked(const RouterState& state, const Derived& derived,
                                          const std::vector<Candidate>& candidates);
  static OpenOptions optionsFor(const RouterState& state, const Outcome::Route& route,
                                const LinkRequest& request, const RoutingContext& context);

  mutable std::mutex m_mutex;
  RouterState m_state;
  Derived m_derived;
  std::shared_ptr<DecisionLog> m_log;
  std::shared_ptr<LaunchRunner> m_runner;
  std::shared_ptr<const ShortLinkExpanding> m_expander;
  SaveRules m_saveRules;
};

}  // namespace linkferry
