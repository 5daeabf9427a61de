#pragma once
#include <string>
#include <vector>

#include "options.h"

namespace vellomar {

// The arguments of this process's command line.
std::vector<std::u16string> process_arguments();

// Reads the command line; a missing or malformed required option ends the process with code 2.
UpdateOptions parse_options();

}  // namespace vellomar
