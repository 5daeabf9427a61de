#pragma once
// What a path from the command line becomes before it reaches the system: fully qualified once,
// then in the form the call it is meant for takes. Standard types only.
#include <string>
#include <string_view>

#include "core/paths.h"
#include "platform/os_result.h"

namespace vellomar {

// `path` itself when it is fully qualified; otherwise its absolute form against the current
// directory, or `path` again should the system refuse to resolve it (the call it is meant for then
// fails on its own).
std::u16string fully_qualified_path(const std::u16string& path);
// What a fully qualified path becomes for the system call of `use`: itself, or the verbatim prefix
// before its absolute form where it is long (see needs_long_form).
OsResult<std::u16string> system_path(const std::u16string& fully_qualified, PathUse use);
// The form of a fully qualified path that file-system calls take: long ones verbatim.
std::u16string file_system_path(std::u16string_view path);

}  // namespace vellomar
