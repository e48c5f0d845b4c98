#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Json.h"

namespace linkferry {

// One run of an external program that opens a link: `/usr/bin/open` or `/usr/bin/osascript` on
// macOS, a desktop entry's command on Linux. Plans are plain values: they are logged, shown in a
// dry run, checked by the helper's policy, carried inside a helper URL and executed by a
// LaunchRunner.
struct LaunchPlan {
  std::string executable;                   // absolute path of the program
  std::vector<std::string> arguments;       // passed as they are, never through a shell
  std::vector<std::string> warnings;        // short English notes on what the plan cannot honour
  std::vector<LaunchPlan> fallbacks;        // run in order by the caller when this plan fails
  std::optional<std::string> fallbackNote;  // reported by a caller that falls back

  LaunchPlan() = default;
  // `LaunchPlan(executable, arguments, warnings)` has no fallbacks and no note.
  LaunchPlan(std::string executable, std::vector<std::string> arguments,
             std::vector<std::string> warnings, std::vector<LaunchPlan> fallbacks = {},
             std::optional<std::string> fallbackNote = std::nullopt);

  // The JSON object with the keys "executable", "arguments", "warnings", "fallbacks" (always
  // written, each fallback a complete plan object) and "fallbackNote" (only when present).
  JsonValue toJson() const;

  // The program and its arguments as one line a POSIX shell runs as this plan: words of only
  // letters, digits and "_@%+=:,./-" (not starting with "=") as they are, every other word in
  // single quotes, a quote inside written '\''. For showing the command to a user, who may paste
  // it; plans themselves never go through a shell.
  std::string commandLine() const;

  // The reverse of toJson. "executable", "arguments", "warnings" and "fallbacks" are required;
  // "fallbackNote" may be missing or null; other keys are ignored. Throws JsonError naming the
  // key path ("fallbacks[0].arguments[2]"). Fallbacks nested deeper than kMaxFallbackDepth fail
  // too, so that a hostile document cannot exhaust the stack.
  static LaunchPlan fromJson(const JsonReader& json);

  // No builder nests fallbacks more than two levels; the limit only guards decoding.
  static constexpr int kMaxFallbackDepth = 16;

  // Structural: every field, fallbacks compared element by element, recursively.
  bool operator==(const LaunchPlan&) const = default;
};

}  // namespace linkferry
