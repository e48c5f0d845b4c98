#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "browsers/BrowserTarget.h"
#include "routing/Candidate.h"
#include "settings/LogEntry.h"

// The picker's logic that needs no window: which rows it lists in which order, and what a key
// press means. Every function is pure and may run on any thread.
namespace linkferry {

// An option set of the modifier keys the picker cares about.
struct PickerModifiers {
  std::int64_t rawValue = 0;

  static constexpr std::int64_t kOption = 1;
  static constexpr std::int64_t kShift = 2;

  static constexpr PickerModifiers option() { return {kOption}; }
  static constexpr PickerModifiers shift() { return {kShift}; }
  constexpr PickerModifiers operator|(PickerModifiers other) const {
    return {rawValue | other.rawValue};
  }
  constexpr bool contains(PickerModifiers other) const {
    return (rawValue & other.rawValue) == other.rawValue;
  }

  bool operator==(const PickerModifiers&) const = default;
};

// What a key press in the picker asks for.
struct PickerCommand {
  // Open the row at `index`; `makeRule` remembers the choice as a rule, `privateMode` asks for a
  // private window.
  struct Choose {
    std::int64_t index = 0;
    bool makeRule = false;
    bool privateMode = false;
    bool operator==(const Choose&) const = default;
  };
  // Move the selection by `rows` (-1 up, +1 down).
  struct Move {
    std::int64_t rows = 0;
    bool operator==(const Move&) const = default;
  };
  // Step the scope selection left (-1) or right (+1).
  struct Scope {
    std::int64_t step = 0;
    bool operator==(const Scope&) const = default;
  };
  // Close the picker without opening.
  struct Cancel {
    bool operator==(const Cancel&) const = default;
  };
  // Not the picker's key: let it through.
  struct Pass {
    bool operator==(const Pass&) const = default;
  };
  using Value = std::variant<Choose, Move, Scope, Cancel, Pass>;

  static PickerCommand choose(std::int64_t index, bool makeRule, bool privateMode) {
    return PickerCommand{Choose{index, makeRule, privateMode}};
  }
  static PickerCommand move(std::int64_t rows) { return PickerCommand{Move{rows}}; }
  static PickerCommand scope(std::int64_t step) { return PickerCommand{Scope{step}}; }
  static PickerCommand cancel() { return PickerCommand{Cancel{}}; }
  static PickerCommand pass() { return PickerCommand{Pass{}}; }

  const Value& value() const { return m_value; }
  const Choose* asChoose() const { return std::get_if<Choose>(&m_value); }
  const Move* asMove() const { return std::get_if<Move>(&m_value); }
  const Scope* asScope() const { return std::get_if<Scope>(&m_value); }
  bool isCancel() const { return std::holds_alternative<Cancel>(m_value); }
  bool isPass() const { return std::holds_alternative<Pass>(m_value); }

  // {"choose": {"index": 2, "makeRule": false, "privateMode": true}}, {"move": -1},
  // {"scope": 1}, {"cancel": true}, {"pass": true}.
  JsonValue toJson() const;
  // The form `toJson` writes. Throws JsonError.
  static PickerCommand fromJson(const JsonReader& json);

  bool operator==(const PickerCommand&) const = default;

 private:
  explicit PickerCommand(Value value) : m_value(std::move(value)) {}
  Value m_value;
};

namespace PickerOrdering {

using Usage = std::unordered_map<BrowserTarget, std::int64_t>;

// The target an entry with this status and target counts one use for: the target with its
// private flag cleared when the entry was `routed` or `picked`; nothing for any other entry.
std::optional<BrowserTarget> usedTarget(DecisionStatus status,
                                        const std::optional<BrowserTarget>& target);

// How often each target was opened: one per `routed` or `picked` entry with a target, counted
// for the target with its private flag cleared (see `usedTarget`). Only targets used at least
// once are in the map.
Usage usage(const std::vector<LogEntry>& entries);

// The picker's rows: the pipeline's candidates whose (non-private) target is visible, first
// occurrence only, in their order; then every other visible target as a candidate of weight 0
// without reasons, by usage (when `byUsage`) and then by its place in `visible`. Every visible
// target appears exactly once; hidden targets never do.
std::vector<Candidate> complete(const std::vector<Candidate>& candidates,
                                const std::vector<BrowserTarget>& visible, const Usage& usage,
                                bool byUsage);

}  // namespace PickerOrdering

namespace PickerKeys {

// Only the first rows carry a number badge.
inline constexpr std::int64_t numberedRows = 10;

// One digit key: macOS virtual key codes on the main keyboard and the keypad, and the row number
// it selects (1 to 10, 0 being the tenth).
struct Digit {
  std::uint16_t mainKeyCode;
  std::uint16_t keypadKeyCode;
  std::int64_t row;
};
inline constexpr Digit digits[] = {{18, 83, 1}, {19, 84, 2}, {20, 85, 3}, {21, 86, 4},
                                   {23, 87, 5}, {22, 88, 6}, {26, 89, 7}, {28, 91, 8},
                                   {25, 92, 9}, {29, 82, 10}};

inline constexpr std::uint16_t kReturn = 36, kKeypadEnter = 76, kEscape = 53, kLeftArrow = 123,
                               kRightArrow = 124, kDownArrow = 125, kUpArrow = 126;

// "1" to "9" for rows 0 to 8, "0" for row 9, nothing for other rows.
std::optional<std::string> badge(std::int64_t row);

// A setting of 1 to 4 as given; otherwise (automatic) 1 column below 7 rows, 3 above 16, else 2.
std::int64_t columns(std::int64_t setting, std::int64_t rows);

// The selection after moving `by` rows among `count` shown rows with `hiddenCount` more folded
// away: past the last shown row (or before the first) expands and selects the first hidden row
// (or the last row); without hidden rows the selection wraps around. The flag says "expand".
// (0, false) when no row is shown.
std::pair<std::int64_t, bool> move(std::int64_t selected, std::int64_t by, std::int64_t count,
                                   std::int64_t hiddenCount);

// What a key press means: Return and keypad Enter choose the selected row (pass when it is not a
// row), Escape cancels, left and right step the scope, down and up move, a digit chooses its row
// when there are that many; option asks for a rule and shift for a private window. Every other
// key passes.
PickerCommand command(std::uint16_t keyCode, PickerModifiers modifiers, std::int64_t selected,
                      std::int64_t count);

}  // namespace PickerKeys

}  // namespace linkferry
