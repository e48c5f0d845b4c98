#pragma once

#include "launching/LaunchPlan.h"

namespace linkferry::cli {

// Hands `plan` to the LinkFerry helper (starting the helper when its socket is absent) and
// reports the outcome on standard error. Returns the command's exit code: 0 when the helper ran
// the plan, 1 when it refused it, 2 when it could not be reached or the plan failed.
int launchViaHelper(const LaunchPlan& plan);

}  // namespace linkferry::cli
