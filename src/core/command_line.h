#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace vellomar {

// Splits a process command line into arguments by the C runtime's rules (2008 and later).
// An empty command line gives the single argument `module_path` (the running executable).
std::vector<std::u16string> split_command_line(std::u16string_view command_line,
                                               std::u16string_view module_path);

}  // namespace vellomar
