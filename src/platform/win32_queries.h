#pragma once
// Variable-length Win32 string queries, each with its own growth loop. An empty optional means the
// query failed; a query that reports zero characters with no last error is an empty result.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellomar {

std::optional<std::u16string> module_file_name();
std::optional<std::u16string> system_directory();
std::optional<std::u16string> windows_directory();
// Absolute form of a path (GetFullPathNameW); on failure the last error is left for the caller.
std::optional<std::u16string> full_path_name(std::u16string_view path);
// Nothing when the variable is not set or cannot be read.
std::optional<std::u16string> environment_variable(std::u16string_view name);

}  // namespace vellomar
