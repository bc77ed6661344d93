#pragma once

#include "cli/command_line.h"
#include "cli/plan.h"

namespace zentrava::cli {

// Every --port a fixture, all on this one event loop, until --count modules were done, a
// SIGINT or SIGTERM, or a failure to write the output or the log. Returns the exit status.
int runProvision(const Options& options, const Plan& plan);

} // namespace zentrava::cli
