#include "router/Pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "router/RulesStage.h"

namespace linkferry {
namespace {

using namespace std::chrono_literals;

BrowserTarget target(std::string browser) {
  return BrowserTarget{.browser = std::move(browser)};
}

LinkRequest request(std::string_view link = "https://example.com/a") {
  return LinkRequest(*URL::parse(link), Date{1'796'000'000});
}

RoutingContext context() {
  return RoutingContext(std::nullopt, std::nullopt, {}, Date{1'796'000'000},
                        *Calendar::withTimeZone("UTC"));
}

// A stage that gives a fixed result and counts its runs.
class FixedStage final : public PipelineStage {
 public:
  FixedStage(std::string id, StageResult result) : m_id(std::move(id)), m_result(std::move(result)) {}
  std::string_view id() const override { return m_id; }
  StageResult evaluate(const LinkRequest&, const RoutingContext&) const override {
    runs->fetch_add(1);
    return m_result;
  }
  std::shared_ptr<std::atomic<int>> runs = std::make_shared<std::atomic<int>>(0);

 private:
  std::string m_id;
  StageResult m_result;
};

std::shared_ptr<FixedStage> fixed(std::string id, StageResult result) {
  return std::make_shared<FixedStage>(std::move(id), std::move(result));
}

Candidate candidate(std::string browser, double weight, std::string stage, std::string detail) {
  return Candidate{target(std::move(browser)), weight, {Reason{std::move(stage), std::move(detail)}}};
}

std::vector<std::string> summaries(const Decision& decision) {
  std::vector<std::string> texts;
  for (const TraceEntry& entry : decision.trace) texts.push_back(entry.stage + " " + entry.summary);
  return texts;
}

std::vector<std::string> browsers(const Outcome& outcome) {
  std::vector<std::string> ids;
  if (const auto* ask = outcome.asAsk()) {
    for (const Candidate& each : ask->candidates) ids.push_back(each.target.browser);
  }
  return ids;
}

TEST(Pipeline, WithoutStagesAsksAboutTheTargetOrderWithNoTrace) {
  Pipeline pipeline{{}, {target("b"), target("a")}};
  Decision decision = pipeline.route(request(), context());
  EXPECT_TRUE(decision.trace.empty());
  EXPECT_EQ(decision.outcome,
            Outcome::ask({Candidate{target("b"), 0, {}}, Candidate{target("a"), 0, {}}}));
  EXPECT_EQ(decision.outcome.reasonStage(), std::nullopt);
}

TEST(Pipeline, AStageThatDecidesEndsTheRunWithItsReason) {
  // Through the real rules stage, so the trace shows the rule's reason text.
  auto rules = std::make_shared<RuleSet>(RuleSet::decode(
      R"({"version": 1, "rules": [{"name": "Work", "match": {"host": "example.com"},
          "action": {"open": {"browser": "firefox"}}}]})",
      "rules.json"));
  auto known = std::make_shared<const std::set<std::string>>(std::set<std::string>{"firefox"});
  auto later = fixed("context", StageResult::ranked({candidate("chromium", 1, "context", "x")}));
  Pipeline pipeline{{std::make_shared<RulesStage>(rules, known), later}, {}};

  Decision decision = pipeline.route(request(), context());
  EXPECT_EQ(summaries(decision), std::vector<std::string>{"rules decided: rule “Work”"});
  EXPECT_EQ(decision.outcome,
            Outcome::route(RouteTarget::open(target("firefox")), Reason{"rules", "rule “Work”"}));
  EXPECT_EQ(decision.outcome.reasonStage(), "rules");
  EXPECT_EQ(later->runs->load(), 0);
}

TEST(Pipeline, AStageThatAsksGivesItsOwnCandidatesAndDropsEarlierOnes) {
  std::vector<Candidate> asked = {candidate("z", 0, "rules", "r"), candidate("a", 0, "rules", "r")};
  Pipeline pipeline{{fixed("session", StageResult::ranked({candidate("a", 3, "session", "s")})),
                     fixed("rules", StageResult::ask(asked, Reason{"rules", "rule “P”"})),
                     fixed("context", StageResult::ranked({candidate("q", 1, "context", "c")}))},
                    {target("a"), target("z")}};
  Decision decision = pipeline.route(request(), context());
  EXPECT_EQ(summaries(decision),
            (std::vector<std::string>{"session ranked 1 candidate(s)", "rules ask: rule “P”"}));
  EXPECT_EQ(decision.outcome, Outcome::ask(asked)) << "neither merged nor re-ordered";
}

TEST(Pipeline, MergesRankedCandidatesAcrossStages) {
  Pipeline pipeline{
      {fixed("session", StageResult::ranked({candidate("a", 1.0, "session", "signed in"),
                                             candidate("b", 0.5, "session", "has cookies")})),
       fixed("focus", StageResult::abstain("no Focus filter")),
       fixed("history", StageResult::ranked({candidate("a", 0.5, "history", "visited")}))},
      {target("b"), target("a")}};
  Decision decision = pipeline.route(request(), context());
  EXPECT_EQ(summaries(decision),
            (std::vector<std::string>{"session ranked 2 candidate(s)",
                                      "focus abstained: no Focus filter",
                                      "history ranked 1 candidate(s)"}));
  ASSERT_TRUE(decision.outcome.asAsk());
  const auto& merged = decision.outcome.asAsk()->candidates;
  ASSERT_EQ(merged.size(), 2u);
  EXPECT_EQ(merged[0], (Candidate{target("a"), 1.5,
                                  {Reason{"session", "signed in"}, Reason{"history", "visited"}}}));
  EXPECT_EQ(merged[1].target, target("b"));
  for (const TraceEntry& entry : decision.trace) EXPECT_GE(entry.duration.count(), 0);
}

TEST(Pipeline, MergeBreaksTiesByTargetOrderThenDescription) {
  BrowserTarget profile{.browser = "a", .profile = "Work"};
  auto merged = Pipeline::merge({candidate("unlisted-z", 1, "s", "x"), candidate("c", 1, "s", "x"),
                                 candidate("unlisted-b", 1, "s", "x"), candidate("a", 1, "s", "x"),
                                 Candidate{profile, 1, {}}, candidate("heavy", 2, "s", "x")},
                                {target("c"), target("a"), target("c")});
  std::vector<std::string> order;
  for (const Candidate& each : merged) order.push_back(each.target.description());
  EXPECT_EQ(order, (std::vector<std::string>{"heavy", "c", "a", "a / Work", "unlisted-b",
                                             "unlisted-z"}));
  // Entries equal by all three keys keep their first occurrence: the same target twice is one.
  EXPECT_EQ(Pipeline::merge({candidate("a", 1, "s", "1"), candidate("a", 1, "t", "2")}, {}).size(),
            1u);
}

// Blocks in `evaluate` until released, then reads everything it was given and records it. Used to
// show that a stage that overruns runs on to the end on its own state.
class LateStage final : public PipelineStage {
 public:
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    bool finished = false;
    std::string seen;
  };
  explicit LateStage(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}
  std::string_view id() const override { return "session"; }
  StageResult evaluate(const LinkRequest& request, const RoutingContext& context) const override {
    std::unique_lock lock(m_gate->mutex);
    m_gate->changed.wait(lock, [&] { return m_gate->released; });
    // Reading the request and context after the pipeline has returned: AddressSanitizer fails the
    // test if they belonged to the caller or to the pipeline rather than to this run.
    m_gate->seen = request.url.absoluteString() + " " + *context.frontmostBrowser;
    m_gate->finished = true;
    m_gate->changed.notify_all();
    return StageResult::decided(RouteTarget::ignore(), Reason{"session", "too late"});
  }

 private:
  std::shared_ptr<Gate> m_gate;
};

TEST(Pipeline, AStageOverTheLimitTimesOutAndFinishesOnItsOwnStateLater) {
  auto gate = std::make_shared<LateStage::Gate>();
  {
    auto caller = std::make_unique<LinkRequest>(request("https://late.example/" + std::string(64, 'x')));
    auto machine = std::make_unique<RoutingContext>(context());
    machine->frontmostBrowser = "firefox";
    auto pipeline = std::make_unique<Pipeline>(Pipeline{
        {std::make_shared<LateStage>(gate),
         fixed("context", StageResult::ranked({candidate("firefox", 0.5, "context", "f")}))},
        {target("chromium")}});
    ASSERT_EQ(pipeline->stageTimeout, 150ms);

    Decision decision = pipeline->route(*caller, *machine);
    EXPECT_EQ(summaries(decision), (std::vector<std::string>{"session timed out",
                                                             "context ranked 1 candidate(s)"}));
    EXPECT_EQ(browsers(decision.outcome), std::vector<std::string>{"firefox"})
        << "the late stage would have decided, but contributes nothing";
    // The caller's request, context and the pipeline go away while the stage still waits.
  }
  std::unique_lock lock(gate->mutex);
  gate->released = true;
  gate->changed.notify_all();
  ASSERT_TRUE(gate->changed.wait_for(lock, 10s, [&] { return gate->finished; }));
  EXPECT_EQ(gate->seen, "https://late.example/" + std::string(64, 'x') + " firefox");
}

class ThrowingStage final : public PipelineStage {
 public:
  std::string_view id() const override { return "history"; }
  StageResult evaluate(const LinkRequest&, const RoutingContext&) const override {
    throw std::runtime_error("index is corrupt");
  }
};

TEST(Pipeline, AStageThatThrowsIsTracedAndTheRunGoesOn) {
  Pipeline pipeline{{std::make_shared<ThrowingStage>(),
                     fixed("context", StageResult::decided(RouteTarget::ignore(),
                                                           Reason{"context", "last"}))},
                    {}};
  Decision decision = pipeline.route(request(), context());
  EXPECT_EQ(summaries(decision), (std::vector<std::string>{"history failed: index is corrupt",
                                                           "context decided: last"}));
  EXPECT_EQ(decision.outcome.reasonStage(), "context");
}

}  // namespace
}  // namespace linkferry
