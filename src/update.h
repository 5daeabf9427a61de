#pragma once
#include "core/messages.h"

namespace vellomar {

// The whole update, from the command line to the relaunch; returns the exit code when it reaches
// its end and otherwise ends the process itself.
ExitCode run_update();

}  // namespace vellomar
