#include "router/Pipeline.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "foundation/Overloaded.h"
#include "foundation/Timeout.h"

namespace linkferry {
namespace {

// What a stage run on a worker delivers: its result, or why it threw. Everything the worker
// reads is owned by the closure (the stage and the inputs by shared pointer), so a stage that is
// abandoned after the timeout touches nothing of the pipeline's.
struct Attempt {
  std::optional<StageResult> result;
  std::string failure;
};

struct Inputs {
  LinkRequest request;
  RoutingContext context;
};

Attempt attempt(const PipelineStage& stage, const Inputs& inputs) {
  try {
    return Attempt{stage.evaluate(inputs.request, inputs.context), {}};
  } catch (const std::exception& error) {
    return Attempt{std::nullopt, error.what()};
  } catch (...) {
    return Attempt{std::nullopt, "unknown error"};
  }
}

}  // namespace

Decision Pipeline::route(const LinkRequest& request, const RoutingContext& context) const {
  std::vector<TraceEntry> trace;
  std::vector<Candidate> collected;
  // One copy of the inputs for the whole run, shared with every stage's worker.
  const auto inputs = std::make_shared<const Inputs>(Inputs{request, context});

  for (const auto& stage : stages) {
    if (!stage) continue;
    stage->prepare();
    const auto started = std::chrono::steady_clock::now();
    std::optional<Attempt> delivered =
        withTimeout<Attempt>(stageTimeout, [stage, inputs] { return attempt(*stage, *inputs); });
    const auto duration = std::chrono::steady_clock::now() - started;
    TraceEntry entry{std::string(stage->id()), {}, duration};

    if (!delivered) {
      entry.summary = "timed out";
      trace.push_back(std::move(entry));
      continue;
    }
    if (!delivered->result) {
      entry.summary = "failed: " + delivered->failure;
      trace.push_back(std::move(entry));
      continue;
    }
    std::optional<Outcome> outcome;
    std::visit(Overloaded{
                   [&](StageResult::Decided& decided) {
                     entry.summary = "decided: " + decided.reason.detail;
                     outcome = Outcome::route(std::move(decided.target), std::move(decided.reason));
                   },
                   [&](StageResult::Ask& ask) {
                     entry.summary = "ask: " + ask.reason.detail;
                     outcome = Outcome::ask(std::move(ask.candidates));
                   },
                   [&](StageResult::Ranked& ranked) {
                     entry.summary =
                         "ranked " + std::to_string(ranked.candidates.size()) + " candidate(s)";
                     std::move(ranked.candidates.begin(), ranked.candidates.end(),
                               std::back_inserter(collected));
                   },
                   [&](StageResult::Abstain& abstain) {
                     entry.summary = "abstained: " + abstain.note;
                   },
               },
               delivered->result->value());
    trace.push_back(std::move(entry));
    if (outcome) return Decision{std::move(*outcome), std::move(trace)};
  }

  std::vector<Candidate> merged = merge(collected, targetOrder);
  if (merged.empty()) {
    for (const BrowserTarget& target : targetOrder) merged.push_back(Candidate{target, 0, {}});
  }
  return Decision{Outcome::ask(std::move(merged)), std::move(trace)};
}

std::vector<Candidate> Pipeline::merge(const std::vector<Candidate>& candidates,
                                       const std::vector<BrowserTarget>& targetOrder) {
  std::vector<Candidate> merged;
  std::unordered_map<BrowserTarget, std::size_t> slot;
  for (const Candidate& candidate : candidates) {
    const auto [found, isNew] = slot.try_emplace(candidate.target, merged.size());
    if (isNew) {
      merged.push_back(candidate);
      continue;
    }
    Candidate& entry = merged[found->second];
    entry.weight += candidate.weight;
    entry.reasons.insert(entry.reasons.end(), candidate.reasons.begin(), candidate.reasons.end());
  }

  std::unordered_map<BrowserTarget, std::size_t> rank;
  for (std::size_t position = 0; position < targetOrder.size(); ++position) {
    rank.try_emplace(targetOrder[position], position);
  }
  // A weight that is not a number sorts last instead of breaking the ordering.
  struct Key {
    double weight;
    std::size_t rank;
    std::string description;
  };
  std::vector<std::pair<Key, Candidate>> keyed;
  keyed.reserve(merged.size());
  for (Candidate& candidate : merged) {
    const auto found = rank.find(candidate.target);
    Key key{std::isnan(candidate.weight) ? -std::numeric_limits<double>::infinity()
                                         : candidate.weight,
            found != rank.end() ? found->second : std::numeric_limits<std::size_t>::max(),
            candidate.target.description()};
    keyed.emplace_back(std::move(key), std::move(candidate));
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    if (a.first.weight != b.first.weight) return a.first.weight > b.first.weight;
    if (a.first.rank != b.first.rank) return a.first.rank < b.first.rank;
    return a.first.description < b.first.description;
  });
  merged.clear();
  for (auto& [key, candidate] : keyed) merged.push_back(std::move(candidate));
  return merged;
}

}  // namespace linkferry
