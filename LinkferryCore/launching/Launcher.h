#pragma once

#include "launching/LaunchPlan.h"

// Runs launch plans the way the helper and macOS plans need: start the program, wait for it.
namespace linkferry::Launcher {

// Runs `plan.executable` with `plan.arguments` (no shell) and waits for it to exit, reading its
// standard error to the end first so that a chatty program cannot block on a full pipe.
// Standard output is inherited; standard input is /dev/null.
//
// Returns when the program exits with status 0, whatever it wrote. Otherwise throws
// LaunchError::failedWithOutput(status, standard error as UTF-8 with invalid sequences replaced,
// trimmed of white space and line breaks), or LaunchError::failed(status) when that text is
// empty. A program killed by a signal has the status 128 + the signal number. A program that
// cannot be started throws std::system_error ("cannot start <executable>: <reason>"), never a
// LaunchError.
//
// Only the plan itself runs: its fallbacks, warnings and note are the caller's business.
// Blocks the calling thread; runs on different threads share nothing.
void run(const LaunchPlan& plan);

}  // namespace linkferry::Launcher
