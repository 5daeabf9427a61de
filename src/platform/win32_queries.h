#pragma once
// Variable-length Win32 string queries, each with its own growth loop, and the path forms built on
// them. A failed query carries its error code; one that reports zero characters with no last error
// is an empty result. Standard types only, so that the sequence sees no system header.
#include <cstdint>
#include <string>
#include <vector>

#include "core/paths.h"

namespace vellomar {

// A system call's result, or the error code it failed with, read right after the failing call.
template <typename T>
struct OsResult {
    T value{};
    std::uint32_t error = 0;  // ERROR_SUCCESS
    bool ok() const { return error == 0; }
};

OsResult<std::u16string> module_file_name();
OsResult<std::u16string> system_directory();
// Absolute form of a path (GetFullPathNameW).
OsResult<std::u16string> full_path_name(const std::u16string& path);
// `path` itself when it is fully qualified; otherwise its absolute form against the current
// directory, or `path` again should the system refuse to resolve it (the call it is meant for then
// fails on its own).
std::u16string fully_qualified_path(const std::u16string& path);
// What a fully qualified path becomes for the system call of `use`: itself, or the verbatim prefix
// before its absolute form where it is long (see needs_long_form).
OsResult<std::u16string> system_path(const std::u16string& fully_qualified, PathUse use);

// The arguments of this process's command line, split by the C runtime's rules.
std::vector<std::u16string> process_arguments();

}  // namespace vellomar
