#pragma once

namespace vellomar {

// The process's exit status: every failure a person sees comes with 1, bad options with 2.
enum class ExitCode : int { success = 0, failure = 1, bad_options = 2 };

// The whole update, from the command line to the relaunch; returns the exit code when it reaches
// its end and otherwise ends the process itself.
ExitCode run_update();

}  // namespace vellomar
