#include "settings/PickerModel.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

namespace linkferry {
namespace {

BrowserTarget withoutPrivateMode(BrowserTarget target) {
  target.privateMode = false;
  return target;
}

std::int64_t clampedToInt64(__int128 value) {
  constexpr __int128 kMin = std::numeric_limits<std::int64_t>::min();
  constexpr __int128 kMax = std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(std::clamp(value, kMin, kMax));
}

}  // namespace

JsonValue PickerCommand::toJson() const {
  if (const Choose* choose = asChoose()) {
    return {{"choose",
             {{"index", choose->index},
              {"makeRule", choose->makeRule},
              {"privateMode", choose->privateMode}}}};
  }
  if (const Move* move = asMove()) return {{"move", move->rows}};
  if (const Scope* scope = asScope()) return {{"scope", scope->step}};
  if (isCancel()) return {{"cancel", true}};
  return {{"pass", true}};
}

PickerCommand PickerCommand::fromJson(const JsonReader& json) {
  std::vector<std::string> keys = json.keys();
  if (keys.size() != 1) {
    json.fail("expected exactly one of choose, move, scope, cancel, pass");
  }
  const std::string& key = keys.front();
  if (key == "choose") {
    JsonReader choose = json["choose"];
    return PickerCommand::choose(choose["index"].integer(), choose["makeRule"].boolean(),
                                 choose["privateMode"].boolean());
  }
  if (key == "move") return PickerCommand::move(json["move"].integer());
  if (key == "scope") return PickerCommand::scope(json["scope"].integer());
  if (key == "cancel") return PickerCommand::cancel();
  if (key == "pass") return PickerCommand::pass();
  json.fail("expected exactly one of choose, move, scope, cancel, pass, got \"" + key + "\"");
}

namespace PickerOrdering {

std::optional<BrowserTarget> usedTarget(DecisionStatus status,
                                        const std::optional<BrowserTarget>& target) {
  if (!target) return std::nullopt;
  if (status != DecisionStatus::routed && status != DecisionStatus::picked) return std::nullopt;
  return withoutPrivateMode(*target);
}

Usage usage(const std::vector<LogEntry>& entries) {
  Usage counts;
  for (const LogEntry& entry : entries) {
    if (std::optional<BrowserTarget> used = usedTarget(entry.status, entry.target)) {
      ++counts[std::move(*used)];
    }
  }
  return counts;
}

std::vector<Candidate> complete(const std::vector<Candidate>& candidates,
                                const std::vector<BrowserTarget>& visible, const Usage& usage,
                                bool byUsage) {
  std::unordered_map<BrowserTarget, std::size_t> position;
  for (std::size_t i = 0; i < visible.size(); ++i) position.emplace(visible[i], i);

  std::vector<Candidate> result;
  std::unordered_set<BrowserTarget> kept;
  for (const Candidate& candidate : candidates) {
    BrowserTarget target = withoutPrivateMode(candidate.target);
    if (position.contains(target) && kept.insert(std::move(target)).second) {
      result.push_back(candidate);
    }
  }

  std::vector<const BrowserTarget*> remaining;
  for (const BrowserTarget& target : visible) {
    if (!kept.contains(target)) remaining.push_back(&target);
  }
  auto uses = [&usage](const BrowserTarget& target) -> std::int64_t {
    auto found = usage.find(target);
    return found == usage.end() ? 0 : found->second;
  };
  // `remaining` is in the order of `visible`, so a stable sort keeps that order among equals.
  if (byUsage) {
    std::stable_sort(remaining.begin(), remaining.end(),
                     [&](const BrowserTarget* a, const BrowserTarget* b) {
                       return uses(*a) > uses(*b);
                     });
  }
  for (const BrowserTarget* target : remaining) result.push_back(Candidate{*target, 0, {}});
  return result;
}

}  // namespace PickerOrdering

namespace PickerKeys {

std::optional<std::string> badge(std::int64_t row) {
  if (row < 0 || row >= numberedRows) return std::nullopt;
  return std::to_string((row + 1) % 10);
}

std::int64_t columns(std::int64_t setting, std::int64_t rows) {
  if (setting >= 1 && setting <= 4) return setting;
  if (rows < 7) return 1;
  if (rows > 16) return 3;
  return 2;
}

std::pair<std::int64_t, bool> move(std::int64_t selected, std::int64_t by, std::int64_t count,
                                   std::int64_t hiddenCount) {
  if (count <= 0) return {0, false};
  if (hiddenCount > 0) {
    if (by > 0 && selected == count - 1) return {count, true};
    if (by < 0 && selected == 0) {
      return {clampedToInt64(static_cast<__int128>(count) + hiddenCount - 1), true};
    }
  }
  __int128 wrapped = (static_cast<__int128>(selected) + by) % count;
  if (wrapped < 0) wrapped += count;
  return {static_cast<std::int64_t>(wrapped), false};
}

PickerCommand command(std::uint16_t keyCode, PickerModifiers modifiers, std::int64_t selected,
                      std::int64_t count) {
  const bool makeRule = modifiers.contains(PickerModifiers::option());
  const bool privateMode = modifiers.contains(PickerModifiers::shift());
  switch (keyCode) {
    case kReturn:
    case kKeypadEnter:
      // Only a row that exists can be chosen; anything else is not the picker's to answer.
      if (selected < 0 || selected >= count) return PickerCommand::pass();
      return PickerCommand::choose(selected, makeRule, privateMode);
    case kEscape:
      return PickerCommand::cancel();
    case kLeftArrow:
      return PickerCommand::scope(-1);
    case kRightArrow:
      return PickerCommand::scope(+1);
    case kDownArrow:
      return PickerCommand::move(+1);
    case kUpArrow:
      return PickerCommand::move(-1);
    default:
      break;
  }
  for (const Digit& digit : digits) {
    if (keyCode != digit.mainKeyCode && keyCode != digit.keypadKeyCode) continue;
    if (count >= digit.row) return PickerCommand::choose(digit.row - 1, makeRule, privateMode);
    return PickerCommand::pass();
  }
  return PickerCommand::pass();
}

}  // namespace PickerKeys

}  // namespace linkferry
