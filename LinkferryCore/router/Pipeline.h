#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "router/Decision.h"
#include "router/PipelineStage.h"
#include "routing/Candidate.h"
#include "routing/LinkRequest.h"
#include "routing/RoutingContext.h"

namespace linkferry {

// Turns a prepared link and its context into a decision by running stages one after another: the
// first stage that decides or asks ends the run; otherwise the candidates of all stages are
// merged and ordered. It holds no state between runs, so one pipeline built from the router's
// state serves every routing operation, from any thread, until that state changes.
struct Pipeline {
  static constexpr std::chrono::milliseconds kDefaultStageTimeout{150};

  // In running order. Shared, never mutated: a stage that overruns its time keeps its own
  // reference and goes on running on it after the pipeline has moved on.
  std::vector<std::shared_ptr<const PipelineStage>> stages;
  // The user's preferred order of targets: it breaks ties between candidates and is the list the
  // user is asked about when no stage ranks anything.
  std::vector<BrowserTarget> targetOrder;
  // The longest time one stage may take.
  std::chrono::nanoseconds stageTimeout = kDefaultStageTimeout;

  // Runs the stages in order, each under `stageTimeout` (foundation withTimeout), and records one
  // trace entry per stage: "timed out", "decided: " + reason, "ask: " + reason,
  // "ranked N candidate(s)", "abstained: " + note, or "failed: " + message for a stage that threw
  // (it counts as having said nothing). Blocks the caller for the run; never fails. Callable
  // from any thread.
  Decision route(const LinkRequest& request, const RoutingContext& context) const;

  // One candidate per distinct target, in the order of first occurrence, later candidates of the
  // same target adding their weight and appending their reasons; then ordered by weight (higher
  // first), position in `targetOrder` (absent ones last), and target description, ties keeping
  // the order of first occurrence.
  static std::vector<Candidate> merge(const std::vector<Candidate>& candidates,
                                      const std::vector<BrowserTarget>& targetOrder);
};

}  // namespace linkferry
