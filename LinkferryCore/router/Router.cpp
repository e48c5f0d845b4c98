#include "router/Router.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "foundation/L10n.h"
#include "foundation/Text.h"
#include "launching/LaunchCommand.h"
#include "preparation/LinkPreparation.h"
#include "preparation/TrackingParameters.h"
#include "router/ClickNotes.h"
#include "router/RouterSetup.h"
#include "rules/RuleAuthoring.h"
#include "rules/RuleTargets.h"
#include "rules/TargetLabel.h"
#include "safety/LinkSafety.h"
#include "safety/PublicSuffixList.h"
#include "settings/PickerModel.h"

namespace linkferry {

namespace {

// Removes the tracking parameters of the request's link and says so in `notes`. Returns the link
// as it was when something was removed. A local file's query is the page's own: kept.
std::optional<URL> removeTrackers(LinkRequest& request, std::vector<std::string>& notes) {
  if (LinkPreparation::isLocalFile(request.url)) return std::nullopt;
  TrackingParameters::Cleaned cleaned = TrackingParameters::clean(request.url);
  if (cleaned.removed.empty()) return std::nullopt;
  URL before = std::exchange(request.url, std::move(cleaned.url));
  notes.push_back("[tracking] removed: " + Text::join(cleaned.removed, ", "));
  return before;
}

std::string commandText(const LaunchPlan& plan) {
  return plan.commandLine();
}

// The state with every null part replaced by an empty value, so operations never check.
RouterState complete(RouterState state) {
  if (!state.catalog) state.catalog = std::make_shared<const BrowserCatalog>();
  if (!state.rules) state.rules = std::make_shared<const RuleSet>();
  if (!state.index) state.index = std::make_shared<const SignalIndex>();
  if (!state.settings) state.settings = std::make_shared<const AppSettings>();
  return state;
}

// The candidates a decision hands the picker: an ask's own, one for a route to a browser target,
// none otherwise.
std::vector<Candidate> candidatesOf(const Outcome& outcome) {
  if (const Outcome::Ask* ask = outcome.asAsk()) return ask->candidates;
  const Outcome::Route& route = *outcome.asRoute();
  if (auto target = route.target.browserTarget()) return {Candidate{*target, 1.0, {route.reason}}};
  return {};
}

// A prompt rule asked: the last stage that ran is the rules stage and it asked.
bool askedByRule(const Decision& decision) {
  return decision.outcome.asAsk() && !decision.trace.empty() &&
         decision.trace.back().stage == "rules" && decision.trace.back().summary.starts_with("ask: ");
}

}  // namespace

std::string Router::traceLine(const TraceEntry& entry) {
  char milliseconds[32];
  std::snprintf(milliseconds, sizeof milliseconds, "%.1f",
                static_cast<double>(entry.duration.count()) / 1e6);
  return "[" + entry.stage + "] " + entry.summary + " (" + milliseconds + " ms)";
}

const std::set<std::string, std::less<>>& Router::guessStages() {
  static const auto& stages = *new std::set<std::string, std::less<>>{"session", "history",
                                                                      "context"};
  return stages;
}

Router::Router(RouterState state, std::shared_ptr<DecisionLog> log,
               std::shared_ptr<LaunchRunner> runner,
               std::shared_ptr<const ShortLinkExpanding> expander, SaveRules saveRules)
    : m_snapshot(makeSnapshot(complete(std::move(state)), nullptr)),
      m_log(std::move(log)),
      m_runner(std::move(runner)),
      m_expander(std::move(expander)),
      m_saveRules(std::move(saveRules)) {}

std::shared_ptr<const Router::Snapshot> Router::makeSnapshot(RouterState state,
                                                             const Snapshot* previous) {
  auto visible = std::make_shared<const std::vector<BrowserTarget>>(
      state.settings->orderedTargets(state.catalog->allTargets()));
  auto index = state.deferredIndex ? state.deferredIndex
                                   : std::make_shared<const DeferredIndex>(state.index);
  // The file keeps the names its writer used; routing works with the catalog's identifiers.
  std::shared_ptr<const RuleSet> rules =
      previous && previous->state.rules == state.rules && previous->state.catalog == state.catalog
          ? previous->rules
          : RuleTargets::resolved(state.rules, *state.catalog);
  std::shared_ptr<const RuleIndex> ruleIndex =
      previous && previous->rules == rules ? previous->ruleIndex
                                           : std::make_shared<const RuleIndex>(rules->rules);
  auto pipeline = std::make_shared<const Pipeline>(RouterSetup::pipeline(
      state.catalog, rules, index, *visible, false, *state.settings, ruleIndex));
  return std::make_shared<const Snapshot>(Snapshot{std::move(state), std::move(pipeline),
                                                   std::move(visible), std::move(rules),
                                                   std::move(ruleIndex)});
}

std::shared_ptr<const Router::Snapshot> Router::snapshot() const {
  std::lock_guard lock(m_snapshotMutex);
  return m_snapshot;
}

void Router::change(const std::function<void(RouterState&)>& change) {
  std::lock_guard changing(m_changeMutex);
  RouterState state = snapshot()->state;
  change(state);
  publish(std::move(state));
}

void Router::publish(RouterState state) {
  // Built before the swap, so clicks never wait for the pipeline to be made.
  std::shared_ptr<const Snapshot> next = makeSnapshot(complete(std::move(state)), snapshot().get());
  std::lock_guard lock(m_snapshotMutex);
  m_snapshot = std::move(next);
}

void Router::setCatalog(std::shared_ptr<const BrowserCatalog> catalog) {
  change([&](RouterState& state) { state.catalog = std::move(catalog); });
}

void Router::setRules(std::shared_ptr<const RuleSet> rules) {
  change([&](RouterState& state) { state.rules = std::move(rules); });
}

void Router::setIndex(std::shared_ptr<const SignalIndex> index) {
  change([&](RouterState& state) {
    state.index = std::move(index);
    state.deferredIndex.reset();
  });
}

void Router::setSettings(std::shared_ptr<const AppSettings> settings) {
  change([&](RouterState& state) { state.settings = std::move(settings); });
  const std::shared_ptr<const AppSettings> applied = snapshot()->state.settings;
  m_log->setKeepHistory(applied->keepHistory);
  m_log->setRetention(applied->logRetentionDays);
}

// What a click decided: the prepared request, its trace lines so far and what to do with it.
struct Router::Decided {
  enum class Kind { safety, ask, ignore, route };
  Kind kind = Kind::route;
  LinkRequest request;
  std::vector<std::string> lines{};
  std::optional<URL> expandedFrom{};
  std::optional<URL> trackersRemovedFrom{};
  // The picker's list for `safety` and `ask`; for `route` the list a failed launch offers.
  std::vector<Candidate> candidates{};
  std::vector<LinkSafety::Finding> findings{};
  // For `ask`: whether the locked screen may open the first candidate.
  bool openFirstWhenLocked = false;
  // For `ignore` and `route`.
  std::optional<Outcome::Route> route{};
};

bool Router::asksFirst(const Decision& decision) const {
  const Outcome::Route* route = decision.outcome.asRoute();
  return route && snapshot()->state.settings->alwaysAsk &&
         guessStages().contains(route->reason.stage);
}

Router::Decided Router::decide(const Snapshot& snapshot, const LinkRequest& received,
                               const RoutingContext& context, bool alwaysPick,
                               const ClickOverride& override) const {
  const RouterState& state = snapshot.state;
  const AppSettings& settings = *state.settings;
  const LinkPreparation::Result prepared = LinkPreparation::prepare(
      received, context, settings, *snapshot.rules, m_expander.get(), snapshot.ruleIndex.get());
  Decided decided{.request = received};
  LinkRequest& request = decided.request;
  request.url = prepared.url;
  decided.expandedFrom = prepared.expandedFrom;

  std::vector<std::string> notes;
  if (request.sourceWindow) {
    notes.push_back("[source] window “" + *request.sourceWindow + "” in " +
                    request.sourceApp.value_or("unknown app"));
  }
  if (settings.stripTracking) decided.trackersRemovedFrom = removeTrackers(request, notes);

  const ClickOverride::Open* alternative = override.asOpen();
  const Decision decision =
      alternative
          ? Decision{Outcome::route(RouteTarget::open(alternative->target),
                                    Reason{"alternative", "alternative browser (modifier held)"}),
                     {TraceEntry{"alternative", "decided: modifier held, rules and signals skipped",
                                 {}}}}
          : snapshot.pipeline->route(request, context);

  std::vector<std::string>& lines = decided.lines;
  lines = prepared.trace;
  lines.insert(lines.end(), notes.begin(), notes.end());
  for (const TraceEntry& entry : decision.trace) lines.push_back(traceLine(entry));

  const bool forcedPick = alwaysPick || override.isPick();
  const Outcome::Route* route = decision.outcome.asRoute();
  Outcome outcome = decision.outcome;
  if (route && (forcedPick || (settings.alwaysAsk && guessStages().contains(route->reason.stage)))) {
    outcome = Outcome::ask(candidatesOf(decision.outcome));
  }
  // A prompt rule asks about its own targets only; a picker forced on a prompt stays as asked.
  const bool limited = askedByRule(decision);
  auto listFor = [&](const Outcome& forOutcome) {
    std::vector<Candidate> candidates = candidatesOf(forOutcome);
    std::vector<Candidate> list = pickerListOf(snapshot, candidates);
    if (!limited) return list;
    std::vector<Candidate> own;
    for (const Candidate& candidate : list) {
      const bool ofRule = std::any_of(candidates.begin(), candidates.end(), [&](const Candidate& c) {
        return c.target == candidate.target;
      });
      if (ofRule) own.push_back(candidate);
    }
    return own.empty() ? candidates : own;
  };

  if (settings.checkLinkSafety) {
    std::vector<LinkSafety::Finding> findings = LinkSafety::inspectAll(request.url);
    if (!findings.empty()) {
      std::vector<std::string> xss, domain;
      for (const LinkSafety::Finding& finding : findings) {
        (finding.kind == LinkSafety::Finding::Kind::xss ? xss : domain).push_back(finding.code);
      }
      if (!xss.empty()) lines.push_back("[safety] possible XSS: " + Text::join(xss, ", "));
      if (!domain.empty()) lines.push_back("[safety] suspicious domain: " + Text::join(domain, ", "));
      decided.kind = Decided::Kind::safety;
      decided.candidates = listFor(outcome);
      decided.findings = std::move(findings);
      return decided;
    }
  }
  // A local file no rule placed opens in the best candidate (the first visible target when
  // nothing ranked one), as a browser opens a double-clicked page: signals know nothing of local
  // files, so the picker is shown only when asked for (a prompt rule, --pick, always ask).
  if (outcome.asAsk() && LinkPreparation::isLocalFile(request.url) && !limited && !forcedPick &&
      !settings.alwaysAsk) {
    const std::vector<Candidate> list = listFor(outcome);
    if (!list.empty()) {
      lines.push_back("[file] no rule placed this local file: opened in the first choice");
      decided.route = Outcome::Route{RouteTarget::open(list.front().target),
                                     Reason{"file", "local file: first choice"}};
      decided.kind = Decided::Kind::route;
      decided.candidates = list;
      return decided;
    }
  }
  if (outcome.asAsk()) {
    decided.kind = Decided::Kind::ask;
    decided.candidates = listFor(outcome);
    decided.openFirstWhenLocked = context.screenLocked && settings.noPickerWhenLocked &&
                                  !forcedPick && !decided.candidates.empty();
    return decided;
  }
  decided.route = *outcome.asRoute();
  decided.kind = decided.route->target.isIgnore() ? Decided::Kind::ignore : Decided::Kind::route;
  return decided;
}

RouterResult Router::apply(const Snapshot& snapshot, Decided decided,
                           const RoutingContext& context, bool dryRun, const Started& started) {
  const RouterState& state = snapshot.state;
  const LinkRequest& request = decided.request;
  std::vector<std::string>& lines = decided.lines;
  const Uuid id = m_log->record(request);
  auto tellStarted = [&](const RouteTarget& target, const Reason& reason) {
    if (!started) return std::function<void()>();
    return std::function<void()>(
        [&, target, reason] { started(RouterResult::opened(id, target, reason), lines); });
  };
  auto pick = [&](std::vector<Candidate> candidates, std::optional<std::string> note) {
    m_log->update(id, DecisionStatus::pending, std::nullopt, std::nullopt, lines);
    // What the window says above its list: why the decision did not open the link, what was
    // passed over on the way, and what a choice cannot do here.
    std::vector<ClickNotes::Note> notes = ClickNotes::of(lines);
    for (ClickNotes::Note& more : ClickNotes::ofCandidates(candidates)) notes.push_back(more);
    if (std::optional<std::string> problem = rememberingProblem()) {
      notes.push_back({ClickNotes::Note::Kind::notRemembered,
                       "A choice cannot be remembered now: " + *problem});
    }
    if (!notes.empty()) {
      const std::string more = ClickNotes::joined(notes);
      note = note ? *note + ". " + more : more;
    }
    return RouterResult::pick(PickerRequest{id, request.url, request.sourceApp,
                                            request.sourceWindow, std::move(candidates),
                                            std::move(note), std::move(decided.findings),
                                            decided.expandedFrom, decided.trackersRemovedFrom});
  };

  switch (decided.kind) {
    case Decided::Kind::safety:
      return pick(std::move(decided.candidates), std::nullopt);
    case Decided::Kind::ask:
      if (decided.openFirstWhenLocked) {
        const BrowserTarget first = decided.candidates.front().target;
        try {
          const Reason reason{"locked", "screen locked: best suggestion"};
          std::vector<std::string> launched =
              launchWith(state, RouteTarget::open(first), request.url, OpenOptions{}, dryRun,
                         tellStarted(RouteTarget::open(first), reason));
          lines.push_back("[locked] screen locked: opened the first picker choice");
          lines.insert(lines.end(), launched.begin(), launched.end());
          m_log->update(id, DecisionStatus::routed, first, reason.detail, lines);
          return RouterResult::opened(id, RouteTarget::open(first), reason);
        } catch (const std::exception& error) {
          lines.push_back(std::string("[locked] launch failed: ") + error.what());
        }
      }
      return pick(std::move(decided.candidates), std::nullopt);
    case Decided::Kind::ignore:
      m_log->update(id, DecisionStatus::ignored, std::nullopt, decided.route->reason.detail, lines);
      return RouterResult::ignored(id);
    case Decided::Kind::route:
      break;
  }

  const Outcome::Route& route = *decided.route;
  const OpenOptions options = optionsFor(snapshot, route, request, context);
  try {
    std::vector<std::string> launched =
        launchWith(state, route.target, request.url, options, dryRun,
                   tellStarted(route.target, route.reason));
    lines.insert(lines.end(), launched.begin(), launched.end());
    m_log->update(id, DecisionStatus::routed, route.target.browserTarget(), route.reason.detail,
                  lines);
    return RouterResult::opened(id, route.target, route.reason);
  } catch (const std::exception& error) {
    lines.push_back(std::string("launch failed: ") + error.what());
    std::string note = L10n::tr("Could not open in %@: %@",
                                {TargetLabel::text(route.target, *state.catalog), error.what()});
    return pick(pickerListOf(snapshot, {}), std::move(note));
  }
}

RouterResult Router::handle(const LinkRequest& received, const RoutingContext& context,
                            bool alwaysPick, const ClickOverride& override, bool dryRun,
                            const Started& started) {
  const std::shared_ptr<const Snapshot> current = snapshot();
  return apply(*current, decide(*current, received, context, alwaysPick, override), context,
               dryRun, started);
}

Decision Router::test(const LinkRequest& received, const RoutingContext& context,
                      std::optional<URL>* preparedURL) const {
  const std::shared_ptr<const Snapshot> current = snapshot();
  const RouterState& state = current->state;
  const LinkPreparation::Result prepared = LinkPreparation::prepare(
      received, context, *state.settings, *current->rules, nullptr, current->ruleIndex.get());
  LinkRequest request = received;
  request.url = prepared.url;
  // Trackers come off before routing, as for a click, so the link routed and shown is the one
  // a launch would open.
  std::vector<std::string> lines = prepared.trace;
  if (state.settings->stripTracking) removeTrackers(request, lines);
  if (preparedURL) *preparedURL = request.url;
  Decision decision = current->pipeline->route(request, context);
  std::vector<TraceEntry> trace;
  for (const std::string& line : lines) trace.push_back(TraceEntry{"prepare", line, {}});
  trace.insert(trace.end(), decision.trace.begin(), decision.trace.end());
  decision.trace = std::move(trace);
  return decision;
}

PickerRequest Router::offer(const LogEntry& entry, const RoutingContext& context, bool newEntry) {
  const std::shared_ptr<const Snapshot> current = snapshot();
  const LinkRequest request(entry.url, entry.sourceApp, entry.sourceWindow,
                            newEntry ? Date::now() : entry.receivedAt);
  const Uuid id = newEntry ? m_log->record(request) : entry.id;
  const Decision decision = current->pipeline->route(request, context);
  return PickerRequest{id,
                       entry.url,
                       entry.sourceApp,
                       entry.sourceWindow,
                       pickerListOf(*current, candidatesOf(decision.outcome)),
                       std::nullopt,
                       {},
                       std::nullopt,
                       std::nullopt};
}

OpenOptions Router::optionsFor(const Snapshot& snapshot, const Outcome::Route& route,
                               const LinkRequest& request, const RoutingContext& context) {
  const RouterState& state = snapshot.state;
  const OpenOptions global = state.settings->openOptions();
  if (route.reason.stage != "rules") return global;
  const std::optional<Rule> rule =
      snapshot.rules->decidingRule(route.target, request, context, *snapshot.ruleIndex);
  if (!rule) return global;
  return OpenOptions::resolve(global, rule->action.newWindow, rule->action.background);
}

std::optional<LaunchPlan> Router::plan(const Outcome::Route& route, const LinkRequest& request,
                                       const RoutingContext& context) const {
  const std::shared_ptr<const Snapshot> current = snapshot();
  const RouterState& state = current->state;
  return LaunchCommand::plan(route.target, request.url, *state.catalog,
                             optionsFor(*current, route, request, context), state.launchPlatform);
}

std::vector<std::string> Router::launch(const RouteTarget& target, const URL& url,
                                        const OpenOptions& options, bool dryRun) {
  return launchWith(snapshot()->state, target, url, options, dryRun);
}

std::vector<std::string> Router::launchWith(const RouterState& state, const RouteTarget& target,
                                            const URL& url, const OpenOptions& options,
                                            bool dryRun,
                                            const std::function<void()>& started) const {
  std::optional<LaunchPlan> plan =
      LaunchCommand::plan(target, url, *state.catalog, options, state.launchPlatform);
  if (!plan) return {};
  std::vector<std::string> lines = plan->warnings;
  if (dryRun || state.settings->dryRun) {
    lines.push_back("dry run: " + commandText(*plan));
    for (const LaunchPlan& fallback : plan->fallbacks) {
      lines.push_back("dry run, if that fails: " + commandText(fallback));
    }
    return lines;
  }
  // A fallback that starts after the plan was told of as started tells nobody again.
  bool told = false;
  std::function<void()> tell;
  if (started) {
    tell = [&] {
      if (told) return;
      told = true;
      started();
    };
  }
  try {
    m_runner->runTellingStart(*plan, tell);
    return lines;
  } catch (const std::exception& error) {
    if (plan->fallbacks.empty()) throw;
    const std::string first = error.what();
    lines.push_back(plan->fallbackNote.value_or("fallback") + ": " + first);
    std::string failures = first;
    for (const LaunchPlan& fallback : plan->fallbacks) {
      try {
        m_runner->runTellingStart(fallback, tell);
        return lines;
      } catch (const std::exception& fallbackError) {
        lines.push_back(std::string("fallback failed: ") + fallbackError.what());
        failures += std::string("; fallback failed: ") + fallbackError.what();
      }
    }
    // Every fallback failed: the first plan's error leads, since the fallbacks' errors rarely
    // say what the user can change.
    throw LaunchFailure(failures);
  }
}

std::vector<Candidate> Router::pickerList(const std::vector<Candidate>& candidates) const {
  return pickerListOf(*snapshot(), candidates);
}

std::vector<Candidate> Router::pickerListOf(const Snapshot& snapshot,
                                            const std::vector<Candidate>& candidates) const {
  std::vector<Candidate> kept;
  for (const Candidate& candidate : candidates) {
    if (candidate.weight != 0 || !candidate.reasons.empty()) kept.push_back(candidate);
  }
  const AppSettings& settings = *snapshot.state.settings;
  const bool byUsage = settings.orderByUsage && settings.keepHistory;
  // The log keeps its count of uses up to date: no entry is read for it.
  const PickerOrdering::Usage usage = byUsage ? m_log->usage() : PickerOrdering::Usage{};
  return PickerOrdering::complete(kept, *snapshot.visible, usage, byUsage);
}

std::vector<std::string> Router::openBrowser(const BrowserTarget& target, bool dryRun) {
  const RouterState state = snapshot()->state;
  const LaunchPlan plan =
      LaunchCommand::planWithoutURL(target, *state.catalog,
                                    OpenOptions{state.settings->openIn, false},
                                    state.launchPlatform);
  std::vector<std::string> lines = plan.warnings;
  if (dryRun || state.settings->dryRun) {
    lines.push_back("dry run: " + commandText(plan));
    return lines;
  }
  m_runner->run(plan);
  return lines;
}

Uuid Router::open(const LinkRequest& received, const BrowserTarget& target,
                  const std::string& reason, bool dryRun) {
  const RouterState state = snapshot()->state;
  LinkRequest request = received;
  std::vector<std::string> lines;
  if (state.settings->stripTracking) removeTrackers(request, lines);
  const Uuid id = m_log->record(request);
  try {
    std::vector<std::string> launched = launchWith(state, RouteTarget::open(target), request.url,
                                                   state.settings->openOptions(), dryRun);
    lines.push_back("[" + reason + "] opened directly");
    lines.insert(lines.end(), launched.begin(), launched.end());
    m_log->update(id, DecisionStatus::routed, target, reason, lines);
    return id;
  } catch (const std::exception& error) {
    lines.push_back(std::string("launch failed: ") + error.what());
    m_log->update(id, DecisionStatus::failed, target, std::nullopt, lines);
    throw;
  }
}

void Router::choose(const Uuid& id, const URL& url, const BrowserTarget& target,
                    const std::optional<RememberScope>& remember, bool privateMode,
                    std::optional<OpenIn> openIn, const std::optional<RememberDuration>& duration,
                    Date now, bool dryRun,
                    const std::function<void(const std::vector<std::string>& lines)>& started) {
  const RouterState state = snapshot()->state;
  std::vector<std::string> lines;
  std::optional<RememberScope> scope = remember;
  // A choice made for a private window never becomes a rule, whether the window was asked for
  // with the choice or the chosen target is itself a private one.
  if (scope && (privateMode || target.privateMode)) {
    scope.reset();
    lines.push_back("private window: nothing remembered");
  }
  if (scope) {
    std::optional<Date> expiry;
    if (duration) expiry = duration->expiry(now, Calendar::current());
    const std::optional<Rule> rule =
        RuleAuthoring::remember(*scope, url, target, TargetLabel::text(target, *state.catalog),
                                expiry, PublicSuffixList::shared());
    if (!rule) {
      lines.push_back("nothing remembered: no rule can be made for this link");
    } else if (dryRun || state.settings->dryRun) {
      // A dry run changes no file of the user's but the log.
      lines.push_back("dry run: rule not saved: " + rule->name);
    } else {
      lines.push_back(rememberRule(*rule, now));
    }
  }
  BrowserTarget launched = target;
  launched.privateMode = privateMode || target.privateMode;
  const OpenOptions options{openIn.value_or(state.settings->openIn),
                            state.settings->openInBackground};
  try {
    std::vector<std::string> launchLines =
        launchWith(state, RouteTarget::open(launched), url, options, dryRun,
                   started ? std::function<void()>([&] { started(lines); })
                           : std::function<void()>());
    lines.insert(lines.end(), launchLines.begin(), launchLines.end());
    m_log->update(id, DecisionStatus::picked, launched, std::string("picked"), lines);
  } catch (const std::exception& error) {
    lines.push_back(std::string("launch failed: ") + error.what());
    m_log->update(id, DecisionStatus::failed, launched, std::nullopt, lines);
    throw;
  }
}

BrowserTarget Router::openUnasked(
    const Uuid& id, const URL& url, const std::vector<Candidate>& candidates, std::size_t first,
    const std::string& why, bool dryRun,
    const std::function<void(const std::vector<std::string>& lines)>& started) {
  if (first >= candidates.size()) throw std::invalid_argument("no browser to open the link in");
  const RouterState state = snapshot()->state;
  std::vector<std::string> lines;
  std::vector<std::string> failures;
  // A browser that started and failed later is followed by the next candidate: `started` hears
  // of the first start only.
  bool told = false;
  for (std::size_t position = first; position < candidates.size(); ++position) {
    const BrowserTarget& target = candidates[position].target;
    const std::string label = TargetLabel::text(target, *state.catalog);
    try {
      std::vector<std::string> opening;
      opening.push_back("[unasked] " + why + ": opened in " + label + " without asking");
      std::vector<std::string> launched = launchWith(
          state, RouteTarget::open(target), url, state.settings->openOptions(), dryRun,
          started ? std::function<void()>([&] {
            if (std::exchange(told, true)) return;
            std::vector<std::string> sofar = lines;
            sofar.insert(sofar.end(), opening.begin(), opening.end());
            started(sofar);
          })
                  : std::function<void()>());
      lines.insert(lines.end(), opening.begin(), opening.end());
      lines.insert(lines.end(), launched.begin(), launched.end());
      m_log->update(id, DecisionStatus::routed, target, kUnaskedReason, lines);
      return target;
    } catch (const std::exception& error) {
      lines.push_back("[unasked] launch failed in " + label + ": " + error.what());
      failures.push_back(label + ": " + error.what());
    }
  }
  m_log->update(id, DecisionStatus::failed, std::nullopt, std::nullopt, lines);
  throw LaunchFailure(Text::join(failures, "; "));
}

std::optional<std::string> Router::rememberingProblem() const {
  if (!m_saveRules) return std::nullopt;
  // The change stops the save once the stored rules are read: nothing is written.
  struct Read {};
  try {
    m_saveRules([](const RuleSet&) -> RuleSet { throw Read{}; });
  } catch (const Read&) {
    return std::nullopt;
  } catch (const std::exception& error) {
    return std::string(error.what());
  }
  return std::nullopt;
}

std::string Router::rememberRule(const Rule& rule, Date now) {
  // The change is made to the rules as stored, not to this router's copy, so an edit the user
  // made since the rules were loaded is kept; the stored result becomes the router's rules.
  std::lock_guard changing(m_changeMutex);
  std::shared_ptr<const RuleSet> saved;
  try {
    saved = std::make_shared<const RuleSet>(
        m_saveRules([&](const RuleSet& stored) { return RuleAuthoring::adding(rule, stored, now); }));
  } catch (const std::exception& error) {
    return std::string("rule not saved: ") + error.what();
  }
  RouterState state = snapshot()->state;
  state.rules = std::move(saved);
  publish(std::move(state));
  std::string line = "rule created: " + rule.name;
  if (rule.expiresAt) line += ", expires " + RFC3339::formatUTC(*rule.expiresAt);
  return line;
}

void Router::cancel(const Uuid& id, const std::optional<std::string>& note) {
  std::vector<std::string> lines;
  if (note) lines.push_back(*note);
  m_log->update(id, DecisionStatus::cancelled, std::nullopt, std::nullopt, lines);
}

}  // namespace linkferry
