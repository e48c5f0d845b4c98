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
#include "rules/RuleIndex.h"
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
#include "rules/Rule.h"
#include "rules/RuleSet.h"
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
// No operation waits for another. The state lives in an immutable snapshot that an operation
// takes in O(1) at its start and works on to its end; a setter builds the next snapshot (and what
// is derived from it) beside the current one and swaps it in, so clicks already running keep
// theirs and later ones see the new state. A click decides on its snapshot (preparation with its
// network requests, the pipeline, link safety, the picker's list) and then applies the decision
// (the log, the launch and its fallbacks) holding no lock of the router: a slow short link or a
// browser that takes its time delays only its own click. The log keeps its own lock; changes
// of the rules (a remembered choice) are made one at a time. Callable from any thread.
//
// Every operation that may launch takes `dryRun`: that call then runs nothing and says what it
// would have run, as when the settings' `dryRun` is on, and a remembered choice is not saved.
class Router {
 public:
  // Applies `change` to the rules as they are stored (normally rules.json, read again under its
  // lock so that edits made since the router loaded it are kept), stores the result and returns
  // it. May throw: the rules then stay as they were.
  using RuleChange = std::function<RuleSet(const RuleSet& stored)>;
  using SaveRules = std::function<RuleSet(const RuleChange& change)>;

  // The state and what the router derives from it for every link, built once per change: the
  // standard pipeline, and the visible targets in the user's order (the pipeline's target order
  // and the picker's full list). Never changes once published.
  struct Snapshot {
    RouterState state;
    std::shared_ptr<const Pipeline> pipeline;
    std::shared_ptr<const std::vector<BrowserTarget>> visible;
    // The rules as routing uses them: `state.rules` with the browser, profile and container
    // names of their targets resolved against `state.catalog` (RuleTargets::resolved); the same
    // pointer when they already name identifiers.
    std::shared_ptr<const RuleSet> rules;
    // The rules filed by what they pin, shared by every walk of them (the rules stage, the
    // rewrites, the rule behind a decision); kept across snapshots while the rules stay.
    std::shared_ptr<const RuleIndex> ruleIndex;
  };

  // The reason logged for a link opened in its best candidate because nobody could be asked.
  static constexpr const char* kUnaskedReason = "nobody to ask: best suggestion";
  // Why a link that looks dangerous was not opened when nobody could be asked.
  static constexpr const char* kUnconfirmedDangerReason =
      "not opened: the link looks dangerous and nobody could confirm it";

  // A pipeline trace entry as a log line: "[stage] summary (12.3 ms)".
  static std::string traceLine(const TraceEntry& entry);

  // The stages whose decisions are only guesses: "session", "history", "context".
  static const std::set<std::string, std::less<>>& guessStages();

  // `expander` may be null: short links are then not expanded. Null parts of the state count as
  // empty, null settings as the defaults.
  Router(RouterState state, std::shared_ptr<DecisionLog> log, std::shared_ptr<LaunchRunner> runner,
         std::shared_ptr<const ShortLinkExpanding> expander, SaveRules saveRules);

  // The current snapshot; O(1).
  std::shared_ptr<const Snapshot> snapshot() const;
  RouterState state() const { return snapshot()->state; }
  const std::shared_ptr<DecisionLog>& log() const { return m_log; }
  void setCatalog(std::shared_ptr<const BrowserCatalog> catalog);
  void setRules(std::shared_ptr<const RuleSet> rules);
  void setIndex(std::shared_ptr<const SignalIndex> index);
  // Also hands the log its new history keeping and retention.
  void setSettings(std::shared_ptr<const AppSettings> settings);

  // Told, on the click's thread, that the browser a click opens has started, while its launch
  // is still being judged (see LaunchRunner::runTellingStart): the result the click has if the
  // launch holds, and the click's trace so far. Called at most once; must not throw.
  using Started =
      std::function<void(const RouterResult& result, const std::vector<std::string>& trace)>;

  // Routes one clicked link. Never fails: a failed launch becomes a picker request with the note
  // "Could not open in <label>: <error>" and a log entry left pending with the failure in its
  // trace. `alwaysPick` and ClickOverride::pick force the picker even on a locked screen.
  // `started`, when given, hears of a launch before it is judged; the returned result is the
  // verdict all the same (a launch that failed after it started may still become a picker).
  RouterResult handle(const LinkRequest& request, const RoutingContext& context, bool alwaysPick,
                      const ClickOverride& override, bool dryRun = false,
                      const Started& started = {});

  // What `handle` would decide, without expanding short links, checking safety, logging or
  // launching: the pipeline's decision with one "prepare" trace entry per preparation line
  // (tracker removal included) in front. `prepared`, when given, receives the prepared link with
  // trackers removed as the settings say (what a launch would open).
  Decision test(const LinkRequest& request, const RoutingContext& context,
                std::optional<URL>* prepared = nullptr) const;

  // Whether `handle` would show the picker first for this decision although it routes: a guess
  // (session, history, context) while the settings say always ask.
  bool asksFirst(const Decision& decision) const;

  // The picker request for a logged link, routed again without preparation. With `newEntry` the
  // link is recorded as a new pending entry; otherwise the request answers the entry itself.
  PickerRequest offer(const LogEntry& entry, const RoutingContext& context, bool newEntry);

  // Opens `target` with `url`: the plan's warnings, or in a dry run the command lines that would
  // run ("dry run: …", "dry run, if that fails: …"). A plan that fails falls back in order; the
  // lines then say so. Throws LaunchError or std::invalid_argument when no plan can be made, the
  // runner's error when a plan without fallbacks fails, LaunchFailure when all fallbacks fail.
  std::vector<std::string> launch(const RouteTarget& target, const URL& url,
                                  const OpenOptions& options, bool dryRun = false);

  // The plan `handle` runs for `route` decided for `request`: the settings' launch options,
  // combined with the deciding rule's own when the rules decided. Nothing for an ignore target.
  // Throws like LaunchCommand::plan.
  std::optional<LaunchPlan> plan(const Outcome::Route& route, const LinkRequest& request,
                                 const RoutingContext& context) const;

  // The picker's list for these candidates: the pipeline's suggestions that are visible, then
  // every other visible target (by use when the settings say so).
  std::vector<Candidate> pickerList(const std::vector<Candidate>& candidates) const;

  // Starts or brings up the browser of `target` without a link. Throws like `launch`.
  std::vector<std::string> openBrowser(const BrowserTarget& target, bool dryRun = false);

  // Opens the link where the user named it, logging it as routed for `reason`; returns the log
  // entry. Throws like `launch`, after logging the entry as failed.
  Uuid open(const LinkRequest& request, const BrowserTarget& target, const std::string& reason,
            bool dryRun = false);

  // The picker's answer for entry `id`: optionally remembers the choice as a rule (never for a
  // private window, never in a dry run), then opens `url` in `target` and logs it as picked. A
  // rule that cannot be made or saved is noted in the log; the link is opened all the same.
  // Throws like `launch`, after logging the entry as failed (a rule saved before stays saved).
  // `started`, when given, is called once the browser has started, before the launch is judged,
  // with the lines the choice adds to the entry's trace so far.
  void choose(const Uuid& id, const URL& url, const BrowserTarget& target,
              const std::optional<RememberScope>& remember, bool privateMode,
              std::optional<OpenIn> openIn, const std::optional<RememberDuration>& duration,
              Date now, bool dryRun = false,
              const std::function<void(const std::vector<std::string>& lines)>& started = {});

  // A waiting picker's link opened without asking, because nobody can be asked (`why`: no
  // terminal and no display to show the picker on): the candidates are tried in order from
  // `first` until one opens, and the entry becomes routed, its trace saying why and what failed
  // on the way. Returns the target opened. Throws std::invalid_argument when there is no
  // candidate, LaunchFailure when none opens (each failure named), after logging the entry as
  // failed. `started` as for `choose`.
  BrowserTarget openUnasked(
      const Uuid& id, const URL& url, const std::vector<Candidate>& candidates, std::size_t first,
      const std::string& why, bool dryRun = false,
      const std::function<void(const std::vector<std::string>& lines)>& started = {});

  // Why a choice cannot be remembered now (the stored rules do not load or cannot be locked),
  // nothing when it can. Reads the stored rules as remembering would, writes nothing.
  std::optional<std::string> rememberingProblem() const;

  // The picker was dismissed: the entry becomes cancelled, with `note` as its only added line.
  void cancel(const Uuid& id, const std::optional<std::string>& note);

 private:
  // What a click decided on its snapshot, before anything is logged or launched.
  struct Decided;
  Decided decide(const Snapshot& snapshot, const LinkRequest& received,
                 const RoutingContext& context, bool alwaysPick,
                 const ClickOverride& override) const;
  RouterResult apply(const Snapshot& snapshot, Decided decided, const RoutingContext& context,
                     bool dryRun, const Started& started);

  // Publishes the state `change` makes of the current one; one change at a time.
  void change(const std::function<void(RouterState&)>& change);
  // Makes `state` the current snapshot; the caller holds `m_changeMutex`.
  void publish(RouterState state);
  // Adds `rule` to the stored rules and publishes them; the log line that says how it went.
  std::string rememberRule(const Rule& rule, Date now);
  // `previous`: the snapshot replaced, whose rule index is kept when the rules are the same.
  static std::shared_ptr<const Snapshot> makeSnapshot(RouterState state,
                                                      const Snapshot* previous);

  // `started`: see LaunchRunner::runTellingStart; told at most once, by the plan or a fallback.
  std::vector<std::string> launchWith(const RouterState& state, const RouteTarget& target,
                                      const URL& url, const OpenOptions& options, bool dryRun,
                                      const std::function<void()>& started = {}) const;
  std::vector<Candidate> pickerListOf(const Snapshot& snapshot,
                                      const std::vector<Candidate>& candidates) const;
  static OpenOptions optionsFor(const Snapshot& snapshot, const Outcome::Route& route,
                                const LinkRequest& request, const RoutingContext& context);

  // Guards only the pointer to the snapshot: held for a copy or a swap, never for work.
  mutable std::mutex m_snapshotMutex;
  std::shared_ptr<const Snapshot> m_snapshot;
  // One change of the state at a time (setters and remembered rules), so none is lost.
  std::mutex m_changeMutex;
  std::shared_ptr<DecisionLog> m_log;
  std::shared_ptr<LaunchRunner> m_runner;
  std::shared_ptr<const ShortLinkExpanding> m_expander;
  SaveRules m_saveRules;
};

}  // namespace linkferry
