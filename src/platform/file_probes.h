#pragma once
// The existence and regular-file tests, the wait for an unlocked executable and the package
// deletion. None of them reports an error: a failed query counts as absence.
#include <optional>
#include <string>
#include <string_view>

#include "core/file_kind.h"

namespace vellomar {

// NUL-terminated path for a file-system call: relative and long paths made absolute and verbatim.
std::u16string file_system_path(std::u16string_view path);

std::optional<FileFacts> probe_existing(std::u16string_view path);
bool path_exists(std::u16string_view path);
bool is_existing_regular_file(std::u16string_view path);

// Polls for up to 15 s until `path` can be opened for writing.
void wait_for_file_unlock(std::u16string_view path);

// Deletes the installer package, read-only or not; every failure is ignored.
void delete_package(std::u16string_view path);

}  // namespace vellomar
