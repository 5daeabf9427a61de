#pragma once
#include "options.h"

namespace vellomar {

// The whole update, from the command line to the relaunch; returns the exit code.
int run_update();

// After a successful silent installation: delete the package, stamp the version, relaunch.
int finish_update(const UpdateOptions& options);

}  // namespace vellomar
