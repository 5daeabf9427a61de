#pragma once
// Variable-length Win32 string queries, each with its own growth loop. A failed query carries its
// error code; one that reports zero characters with no last error is an empty result.
#include <string>
#include <vector>

#include "platform/win32.h"

namespace vellomar {

OsResult<std::u16string> module_file_name();
OsResult<std::u16string> system_directory();
OsResult<std::u16string> windows_directory();
// Absolute form of a path (GetFullPathNameW).
OsResult<std::u16string> full_path_name(const std::u16string& path);
// `path` itself when it is fully qualified; otherwise its absolute form against the current
// directory, or `path` again should the system refuse to resolve it (the call it is meant for then
// fails on its own).
std::u16string fully_qualified_path(const std::u16string& path);
// Fails with ERROR_ENVVAR_NOT_FOUND when the variable is not set.
OsResult<std::u16string> environment_variable(const std::u16string& name);

// The arguments of this process's command line, split by the C runtime's rules.
std::vector<std::u16string> process_arguments();

}  // namespace vellomar
