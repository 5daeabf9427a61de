#pragma once
// The helper's own command line. Standard types only.
#include <string>
#include <vector>

namespace vellomar {

// The arguments of this process's command line, split by the C runtime's rules.
std::vector<std::u16string> process_arguments();

}  // namespace vellomar
