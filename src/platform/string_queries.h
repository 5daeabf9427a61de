#pragma once
// Variable-length Win32 string queries, each with its own growth loop. A failed query carries its
// error code; one that reports zero characters with no last error is an empty result. Standard
// types only.
#include <string>

#include "platform/os_result.h"

namespace vellomar {

OsResult<std::u16string> module_file_name();
OsResult<std::u16string> system_directory();
// Absolute form of a path (GetFullPathNameW).
OsResult<std::u16string> full_path_name(const std::u16string& path);

}  // namespace vellomar
