#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include <CLI/CLI.hpp>

#include "foundation/Json.h"

// Subcommands register themselves: a file defines one static `RegisterCommand` whose setup adds a
// subcommand to the program and returns the action to run when that subcommand is chosen.
namespace linkferry::cli {

// The exit codes of every command.
enum ExitCode : int { kSuccess = 0, kInputError = 1, kInternalError = 2 };

// A usage or input error: the command prints "linkferry: <what>" and exits 1.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using CommandAction = std::function<int()>;
using CommandSetup = std::function<CommandAction(CLI::App& program)>;

struct RegisterCommand {
  explicit RegisterCommand(CommandSetup setup);
};

// Results go to standard output; diagnostics to standard error as "linkferry: <message>", the
// message escaped for display (DisplayText::escaped) so that it stays one line.
void printJson(const JsonValue& value);
void printError(std::string_view message);
// The worse of two exit codes (an internal failure outranks an input error).
int worst(int a, int b);

}  // namespace linkferry::cli
