#include "router/Router.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "foundation/L10n.h"
#include "foundation/Overloaded.h"
#include "foundation/Text.h"
#include "launching/LaunchCommand.h"
#include "preparation/LinkPreparation.h"
#include "preparation/TrackingParameters.h"
#include "router/RouterSetup.h"
#include "rules/RuleAuthoring.h"
#include "rules/TargetLabel.h"
#include "safety/LinkSafety.h"
#include "safety/PublicSuffixList.h"
#include "settings/PickerModel.h"

namespace linkferry {

namespace {

// Removes the tracking parameters of the request's link and says so in `notes`. Returns the link
// as it was when something was removed.
std::optional<URL> removeTrackers(LinkRequest& request, std::vector<std::string>& notes) {
  TrackingParameters::Cleaned cleaned = TrackingParameters::clean(request.url);
  if (cleaned.removed.empty()) return std::nullopt;
  URL before = std::exchange(request.url, std::move(cleaned.url));
  notes.push_back("[tracking] removed: " + Text::join(cleaned.removed, ", "));
  return before;
}

std::string commandText(const LaunchPlan& plan) {
  std::string text = plan.executable;
  for (const std::string& argument : plan.arguments) text += " " + argument;
  return text;
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

std::string label(const RouteTarget& target, const BrowserCatalog& catalog) {
  return std::visit(
      Overloaded{
          [&](const RouteTarget::Open& open) { return TargetLabel::text(open.target, catalog); },
          [](const RouteTarget::OpenInApp& app) { return app.bundleID; },
          [](const RouteTarget::OpenLink& link) { return link.bundleID; },
          [](const RouteTarget::Ignore&) { return std::string("nothing"); }},
      target.value());
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
    : m_state(complete(std::move(state))),
      m_log(std::move(log)),
      m_runner(std::move(runner)),
      m_expander(std::move(expander)),
      m_saveRules(std::move(saveRules)) {
  stateChanged();
}

void Router::stateChanged() {
  const RouterState& state = m_state;
  auto visible = std::make_shared<const std::vector<BrowserTarget>>(
      state.settings->orderedTargets(state.catalog->allTargets()));
  m_derived.pipeline = std::make_shared<const Pipeline>(RouterSetup::pipeline(
      state.catalog, state.rules, state.index, *visible, false, *state.settings));
  m_derived.visible = std::move(visible);
}

RouterState Router::state() const {
  std::lock_guard lock(m_mutex);
  return m_state;
}

void Router::setCatalog(std::shared_ptr<const BrowserCatalog> catalog) {
  std::lock_guard lock(m_mutex);
  m_state.catalog = catalog ? std::move(catalog) : std::make_shared<const BrowserCatalog>();
  stateChanged();
}

void Router::setRules(std::shared_ptr<const RuleSet> rules) {
  std::lock_guard lock(m_mutex);
  m_state.rules = rules ? std::move(rules) : std::make_shared<const RuleSet>();
  stateChanged();
}

void Router::setIndex(std::shared_ptr<const SignalIndex> index) {
  std::lock_guard lock(m_mutex);
  m_state.index = index ? std::move(index) : std::make_shared<const SignalIndex>();
  stateChanged();
}

void Router::setSettings(std::shared_ptr<const AppSettings> settings) {
  std::lock_guard lock(m_mutex);
  m_state.settings = settings ? std::move(settings) : std::make_shared<const AppSettings>();
  stateChanged();
  m_log->setKeepHistory(m_state.settings->keepHistory);
  m_log->setRetention(m_state.settings->logRetentionDays);
}

RouterResult Router::handle(const LinkRequest& received, const RoutingContext& context,
                            bool alwaysPick, const ClickOverride& override) {
  std::lock_guard lock(m_mutex);
  const RouterState state = m_state;
  const Derived derived = m_derived;
  const AppSettings& settings = *state.settings;

  const LinkPreparation::Result prepared = LinkPreparation::prepare(
      received, context, settings, *state.rules, m_expander.get());
  LinkRequest request = received;
  request.url = prepared.url;

  std::vector<std::string> notes;
  if (request.sourceWindow) {
    notes.push_back("[source] window “" + *request.sourceWindow + "” in " +
                    request.sourceApp.value_or("unknown app"));
  }
  std::optional<URL> trackersRemovedFrom;
  if (settings.stripTracking) trackersRemovedFrom = removeTrackers(request, notes);

  const Uuid id = m_log->record(request);

  const ClickOverride::Open* alternative = override.asOpen();
  const Decision decision =
      alternative
          ? Decision{Outcome::route(RouteTarget::open(alternative->target),
                                    Reason{"alternative", "alternative browser (modifier held)"}),
                     {TraceEntry{"alternative", "decided: modifier held, rules and signals skipped",
                                 {}}}}
          : derived.pipeline->route(request, context);

  std::vector<std::string> lines = prepared.trace;
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

  auto pickerRequest = [&](std::vector<Candidate> candidates, std::optional<std::string> note,
                           std::vector<LinkSafety::Finding> safety) {
    return PickerRequest{id,
                         request.url,
                         request.sourceApp,
                         request.sourceWindow,
                         std::move(candidates),
                         std::move(note),
                         std::move(safety),
                         prepared.expandedFrom,
                         trackersRemovedFrom};
  };
  auto listFor = [&](const Outcome& forOutcome) {
    std::vector<Candidate> candidates = candidatesOf(forOutcome);
    std::vector<Candidate> list = pickerListLocked(state, derived, candidates);
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
      m_log->update(id, DecisionStatus::pending, std::nullopt, std::nullopt, lines);
      return RouterResult::pick(pickerRequest(listFor(outcome), std::nullopt, std::move(findings)));
    }
  }

  if (outcome.asAsk()) {
    std::vector<Candidate> list = listFor(outcome);
    if (context.screenLocked && settings.noPickerWhenLocked && !forcedPick && !list.empty()) {
      const BrowserTarget first = list.front().target;
      try {
        std::vector<std::string> launched =
            launchLocked(state, RouteTarget::open(first), request.url, OpenOptions{});
        lines.push_back("[locked] screen locked: opened the first picker choice");
        lines.insert(lines.end(), launched.begin(), launched.end());
        const Reason reason{"locked", "screen locked: best suggestion"};
        m_log->update(id, DecisionStatus::routed, first, reason.detail, lines);
        return RouterResult::opened(id, RouteTarget::open(first), reason);
      } catch (const std::exception& error) {
        lines.push_back(std::string("[locked] launch failed: ") + error.what());
      }
    }
    m_log->update(id, DecisionStatus::pending, std::nullopt, std::nullopt, lines);
    return RouterResult::pick(pickerRequest(std::move(list), std::nullopt, {}));
  }

  const Outcome::Route& decided = *outcome.asRoute();
  if (decided.target.isIgnore()) {
    m_log->update(id, DecisionStatus::ignored, std::nullopt, decided.reason.detail, lines);
    return RouterResult::ignored(id);
  }

  const OpenOptions options = optionsFor(state, decided, request, context);
  try {
    std::vector<std::string> launched = launchLocked(state, decided.target, request.url, options);
    lines.insert(lines.end(), launched.begin(), launched.end());
    m_log->update(id, DecisionStatus::routed, decided.target.browserTarget(),
                  decided.reason.detail, lines);
    return RouterResult::opened(id, decided.target, decided.reason);
  } catch (const std::exception& error) {
    lines.push_back(std::string("launch failed: ") + error.what());
    m_log->update(id, DecisionStatus::pending, std::nullopt, std::nullopt, lines);
    std::string note =
        L10n::tr("Could not open in %@: %@", {label(decided.target, *state.catalog), error.what()});
    return RouterResult::pick(
        pickerRequest(pickerListLocked(state, derived, {}), std::move(note), {}));
  }
}

Decision Router::test(const LinkRequest& received, const RoutingContext& context,
                      std::optional<URL>* preparedURL) const {
  std::unique_lock lock(m_mutex);
  const RouterState state = m_state;
  const Derived derived = m_derived;
  lock.unlock();  // nothing here changes the router or its log
  const LinkPreparation::Result prepared = LinkPreparation::prepare(
      received, context, *state.settings, *state.rules, nullptr);
  LinkRequest request = received;
  request.url = prepared.url;
  if (preparedURL) *preparedURL = prepared.url;
  Decision decision = derived.pipeline->route(request, context);
  std::vector<TraceEntry> trace;
  for (const std::string& line : prepared.trace) trace.push_back(TraceEntry{"prepare", line, {}});
  trace.insert(trace.end(), decision.trace.begin(), decision.trace.end());
  decision.trace = std::move(trace);
  return decision;
}

PickerRequest Router::offer(const LogEntry& entry, const RoutingContext& context, bool newEntry) {
  std::lock_guard lock(m_mutex);
  const RouterState state = m_state;
  const Derived derived = m_derived;
  const LinkRequest request(entry.url, entry.sourceApp, entry.sourceWindow,
                            newEntry ? Date::now() : entry.receivedAt);
  const Uuid id = newEntry ? m_log->record(request) : entry.id;
  const Decision decision = derived.pipeline->route(request, context);
  return PickerRequest{id,
                       entry.url,
                       entry.sourceApp,
                       entry.sourceWindow,
                       pickerListLocked(state, derived, candidatesOf(decision.outcome)),
                       std::nullopt,
                       {},
                       std::nullopt,
                       std::nullopt};
}

OpenOptions Router::optionsFor(const RouterState& state, const Outcome::Route& route,
                               const LinkRequest& request, const RoutingContext& context) {
  const OpenOptions global = state.settings->openOptions();
  if (route.reason.stage != "rules") return global;
  const std::optional<Rule> rule = state.rules->decidingRule(route.target, request, context);
  if (!rule) return global;
  return OpenOptions::resolve(global, rule->action.newWindow, rule->action.background);
}

std::optional<LaunchPlan> Router::plan(const Outcome::Route& route, const LinkRequest& request,
                                       const RoutingContext& context) const {
  std::unique_lock lock(m_mutex);
  const RouterState state = m_state;
  lock.unlock();
  return LaunchCommand::plan(route.target, request.url, *state.catalog,
                             optionsFor(state, route, request, context), state.launchPlatform);
}

std::vector<std::string> Router::launch(const RouteTarget& target, const URL& url,
                                        const OpenOptions& options) {
  std::lock_guard lock(m_mutex);
  return launchLocked(m_state, target, url, options);
}

std::vector<std::string> Router::launchLocked(const RouterState& state, const RouteTarget& target,
                                              const URL& url, const OpenOptions& options) {
  std::optional<LaunchPlan> plan =
      LaunchCommand::plan(target, url, *state.catalog, options, state.launchPlatform);
  if (!plan) return {};
  std::vector<std::string> lines = plan->warnings;
  if (state.settings->dryRun) {
    lines.push_back("dry run: " + commandText(*plan));
    for (const LaunchPlan& fallback : plan->fallbacks) {
      lines.push_back("dry run, if that fails: " + commandText(fallback));
    }
    return lines;
  }
  try {
    m_runner->run(*plan);
    return lines;
  } catch (const std::exception& error) {
    if (plan->fallbacks.empty()) throw;
    const std::string first = error.what();
    lines.push_back(plan->fallbackNote.value_or("fallback") + ": " + first);
    std::string failures = first;
    for (const LaunchPlan& fallback : plan->fallbacks) {
      try {
        m_runner->run(fallback);
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

std::vector<Candidate> Router::pickerList(const std::vector<Candidate>& candidates) {
  std::lock_guard lock(m_mutex);
  return pickerListLocked(m_state, m_derived, candidates);
}

std::vector<Candidate> Router::pickerListLocked(const RouterState& state, const Derived& derived,
                                                const std::vector<Candidate>& candidates) {
  std::vector<Candidate> kept;
  for (const Candidate& candidate : candidates) {
    if (candidate.weight != 0 || !candidate.reasons.empty()) kept.push_back(candidate);
  }
  const AppSettings& settings = *state.settings;
  const bool byUsage = settings.orderByUsage && settings.keepHistory;
  // Reading every log entry is the picker list's dearest step; only an order by use needs it.
  const PickerOrdering::Usage usage =
      byUsage ? PickerOrdering::usage(m_log->all()) : PickerOrdering::Usage{};
  return PickerOrdering::complete(kept, *derived.visible, usage, byUsage);
}

std::vector<std::string> Router::openBrowser(const BrowserTarget& target) {
  std::lock_guard lock(m_mutex);
  const RouterState state = m_state;
  const LaunchPlan plan =
      LaunchCommand::planWithoutURL(target, *state.catalog,
                                    OpenOptions{state.settings->openIn, false},
                                    state.launchPlatform);
  std::vector<std::string> lines = plan.warnings;
  if (state.settings->dryRun) {
    lines.push_back("dry run: " + commandText(plan));
    return lines;
  }
  m_runner->run(plan);
  return lines;
}

Uuid Router::open(const LinkRequest& received, const BrowserTarget& target,
                  const std::string& reason) {
  std::lock_guard lock(m_mutex);
  const RouterState state = m_state;
  LinkRequest request = received;
  std::vector<std::string> lines;
  if (state.settings->stripTracking) removeTrackers(request, lines);
  const Uuid id = m_log->record(request);
  try {
    std::vector<std::string> launched = launchLocked(state, RouteTarget::open(target), request.url,
                                                     state.settings->openOptions());
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
                    Date now) {
  std::lock_guard lock(m_mutex);
  const RouterState state = m_state;
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
    } else {
      auto rules = std::make_shared<const RuleSet>(RuleAuthoring::adding(*rule, *state.rules, now));
      try {
        m_saveRules(*rules);
        m_state.rules = rules;
        stateChanged();
        std::string line = "rule created: " + rule->name;
        if (rule->expiresAt) line += ", expires " + RFC3339::formatUTC(*rule->expiresAt);
        lines.push_back(std::move(line));
      } catch (const std::exception& error) {
        lines.push_back(std::string("rule not saved: ") + error.what());
      }
    }
  }
  BrowserTarget launched = target;
  launched.privateMode = privateMode || target.privateMode;
  const OpenOptions options{openIn.value_or(state.settings->openIn),
                            state.settings->openInBackground};
  try {
    std::vector<std::string> launchLines =
        launchLocked(state, RouteTarget::open(launched), url, options);
    lines.insert(lines.end(), launchLines.begin(), launchLines.end());
    m_log->update(id, DecisionStatus::picked, launched, std::string("picked"), lines);
  } catch (const std::exception& error) {
    lines.push_back(std::string("launch failed: ") + error.what());
    m_log->update(id, DecisionStatus::failed, launched, std::nullopt, lines);
    throw;
  }
}

void Router::cancel(const Uuid& id, const std::optional<std::string>& note) {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> lines;
  if (note) lines.push_back(*note);
  m_log->update(id, DecisionStatus::cancelled, std::nullopt, std::nullopt, lines);
}

}  // namespace linkferry
