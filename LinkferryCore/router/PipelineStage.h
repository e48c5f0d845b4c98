#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "routing/Candidate.h"
#include "routing/LinkRequest.h"
#include "routing/Reason.h"
#include "routing/RouteTarget.h"
#include "routing/RoutingContext.h"

namespace linkferry {

// What one decision stage says about a link: a closed set of cases, in this order.
struct StageResult {
  // This stage decides where the link goes; the run ends.
  struct Decided {
    RouteTarget target;
    Reason reason;
    bool operator==(const Decided&) const = default;
  };
  // The user must choose among exactly these candidates; the run ends.
  struct Ask {
    std::vector<Candidate> candidates;
    Reason reason;
    bool operator==(const Ask&) const = default;
  };
  // Weighted suggestions; the run goes on.
  struct Ranked {
    std::vector<Candidate> candidates;
    bool operator==(const Ranked&) const = default;
  };
  // Nothing to say, with a short note why; the run goes on.
  struct Abstain {
    std::string note;
    bool operator==(const Abstain&) const = default;
  };
  using Value = std::variant<Decided, Ask, Ranked, Abstain>;

  static StageResult decided(RouteTarget target, Reason reason) {
    return StageResult(Decided{std::move(target), std::move(reason)});
  }
  static StageResult ask(std::vector<Candidate> candidates, Reason reason) {
    return StageResult(Ask{std::move(candidates), std::move(reason)});
  }
  static StageResult ranked(std::vector<Candidate> candidates) {
    return StageResult(Ranked{std::move(candidates)});
  }
  static StageResult abstain(std::string note) { return StageResult(Abstain{std::move(note)}); }

  const Value& value() const { return m_value; }
  Value& value() { return m_value; }
  // The case's payload, or null for the other cases.
  const Decided* asDecided() const { return std::get_if<Decided>(&m_value); }
  const Ask* asAsk() const { return std::get_if<Ask>(&m_value); }
  const Ranked* asRanked() const { return std::get_if<Ranked>(&m_value); }
  const Abstain* asAbstain() const { return std::get_if<Abstain>(&m_value); }

  bool operator==(const StageResult&) const = default;

 private:
  template <class Case>
  explicit StageResult(Case value) : m_value(std::move(value)) {}
  Value m_value;
};

// One decision stage: looks at a link from one angle. Stages are immutable values; `evaluate`
// only reads the stage, the request and the context, may run on any thread (the pipeline runs it
// on a worker and may abandon it there when it overruns), and never fails: what it cannot judge
// ends in `abstain`. Whatever large data a stage reads it holds by std::shared_ptr<const T>, so a
// stage left running outlives nothing it needs.
class PipelineStage {
 public:
  virtual ~PipelineStage() = default;
  // The stage's fixed identifier, used in traces and as `Reason::stage`: "rules", "app-links",
  // "focus", "session", "history", "context".
  virtual std::string_view id() const = 0;
  virtual StageResult evaluate(const LinkRequest& request, const RoutingContext& context) const = 0;
  // Makes ready what `evaluate` reads and is made on first use (the signal index of a process
  // that routes one link), before the stage's time limit starts: so that making it never counts
  // as the stage overrunning. Called on the pipeline's thread just before `evaluate`.
  virtual void prepare() const {}
};

}  // namespace linkferry
