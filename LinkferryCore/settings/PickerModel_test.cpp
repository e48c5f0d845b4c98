#include "settings/PickerModel.h"

#include <gtest/gtest.h>

namespace linkferry {
namespace {

const BrowserTarget A{"a"}, B{"b"}, C{"c"}, H{"hidden"};

BrowserTarget privately(BrowserTarget target) {
  target.privateMode = true;
  return target;
}

LogEntry used(const BrowserTarget& target, DecisionStatus status) {
  return LogEntry(Uuid::random(), *URL::parse("https://a.test/"), std::nullopt, std::nullopt,
                  Date{}, status, target, std::nullopt, {});
}

TEST(PickerOrdering, SuggestionsLeadAndEveryVisibleTargetFollowsOnce) {
  std::vector<LogEntry> log = {used(C, DecisionStatus::routed), used(privately(C), DecisionStatus::picked),
                               used(B, DecisionStatus::cancelled), used(B, DecisionStatus::pending),
                               used(B, DecisionStatus::failed), used(B, DecisionStatus::ignored)};
  log.push_back(LogEntry(Uuid::random(), *URL::parse("https://a.test/"), std::nullopt,
                         std::nullopt, Date{}, DecisionStatus::routed, std::nullopt, std::nullopt,
                         {}));
  const PickerOrdering::Usage usage = PickerOrdering::usage(log);
  EXPECT_EQ(usage, (PickerOrdering::Usage{{C, 2}}));

  const Reason reason{"history", "often"};
  const std::vector<Candidate> candidates = {{privately(A), 5, {reason}}, {A, 3, {}}, {H, 9, {}}};
  EXPECT_EQ(PickerOrdering::complete(candidates, {A, B, C}, usage, true),
            (std::vector<Candidate>{{privately(A), 5, {reason}}, {C, 0, {}}, {B, 0, {}}}));
  EXPECT_EQ(PickerOrdering::complete(candidates, {A, B, C}, usage, false),
            (std::vector<Candidate>{{privately(A), 5, {reason}}, {B, 0, {}}, {C, 0, {}}}));
}

TEST(PickerKeys, BadgesColumnsAndMovement) {
  EXPECT_EQ(PickerKeys::badge(0), "1");
  EXPECT_EQ(PickerKeys::badge(9), "0");
  EXPECT_EQ(PickerKeys::badge(10), std::nullopt);
  EXPECT_EQ(PickerKeys::badge(-1), std::nullopt);
  EXPECT_EQ(PickerKeys::columns(0, 6), 1);
  EXPECT_EQ(PickerKeys::columns(0, 7), 2);
  EXPECT_EQ(PickerKeys::columns(0, 16), 2);
  EXPECT_EQ(PickerKeys::columns(0, 17), 3);
  EXPECT_EQ(PickerKeys::columns(4, 2), 4);
  EXPECT_EQ(PickerKeys::columns(9, 2), 1);

  using Move = std::pair<std::int64_t, bool>;
  EXPECT_EQ(PickerKeys::move(4, 1, 5, 0), Move(0, false));
  EXPECT_EQ(PickerKeys::move(0, -1, 5, 0), Move(4, false));
  EXPECT_EQ(PickerKeys::move(4, 1, 5, 3), Move(5, true));
  EXPECT_EQ(PickerKeys::move(0, -1, 5, 3), Move(7, true));
  EXPECT_EQ(PickerKeys::move(2, 1, 5, 3), Move(3, false));
  EXPECT_EQ(PickerKeys::move(0, 1, 0, 3), Move(0, false));
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(PickerKeys::move(kMax - 1, kMax, kMax, 0).second, false);
  EXPECT_EQ(PickerKeys::move(0, -1, kMax, kMax), Move(kMax, true));
}

TEST(PickerKeys, KeysBecomeCommands) {
  const PickerModifiers none, option = PickerModifiers::option(), shift = PickerModifiers::shift();
  EXPECT_EQ(PickerKeys::command(36, option | shift, 2, 3), PickerCommand::choose(2, true, true));
  EXPECT_EQ(PickerKeys::command(76, none, 0, 1), PickerCommand::choose(0, false, false));
  EXPECT_EQ(PickerKeys::command(36, none, 0, 0), PickerCommand::pass());
  // A selection outside the rows is not chosen.
  EXPECT_EQ(PickerKeys::command(36, none, 3, 3), PickerCommand::pass());
  EXPECT_EQ(PickerKeys::command(36, none, -1, 3), PickerCommand::pass());
  EXPECT_EQ(PickerKeys::command(53, none, 0, 3), PickerCommand::cancel());
  EXPECT_EQ(PickerKeys::command(123, none, 0, 3), PickerCommand::scope(-1));
  EXPECT_EQ(PickerKeys::command(124, none, 0, 3), PickerCommand::scope(1));
  EXPECT_EQ(PickerKeys::command(125, none, 0, 3), PickerCommand::move(1));
  EXPECT_EQ(PickerKeys::command(126, none, 0, 3), PickerCommand::move(-1));
  EXPECT_EQ(PickerKeys::command(29, option, 0, 10), PickerCommand::choose(9, true, false));
  EXPECT_EQ(PickerKeys::command(82, shift, 0, 10), PickerCommand::choose(9, false, true));
  EXPECT_EQ(PickerKeys::command(29, none, 0, 9), PickerCommand::pass());
  EXPECT_EQ(PickerKeys::command(22, none, 0, 6), PickerCommand::choose(5, false, false));
  EXPECT_EQ(PickerKeys::command(0, none, 0, 6), PickerCommand::pass());

  for (const PickerCommand& command :
       {PickerCommand::choose(3, true, false), PickerCommand::move(-1), PickerCommand::scope(1),
        PickerCommand::cancel(), PickerCommand::pass()}) {
    JsonValue json = command.toJson();
    EXPECT_EQ(PickerCommand::fromJson(JsonReader(json, "command")), command) << json.dump();
  }
}

}  // namespace
}  // namespace linkferry
