#pragma once
// The existence and regular-file tests, the wait for an unlocked executable and the package
// deletion. None of them reports an error: a failed query counts as absence.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/file_kind.h"

namespace vellomar {

// The form of a fully qualified path that file-system calls take: long ones verbatim.
std::u16string file_system_path(std::u16string_view path);

std::optional<FileFacts> probe_existing(std::u16string_view path);
bool path_exists(std::u16string_view path);
bool is_existing_regular_file(std::u16string_view path);

// Polls every `probe_pause_ms` until `path` can be opened for writing, for at most `limit_seconds`
// whole seconds.
void wait_for_file_unlock(std::u16string_view path, std::uint64_t limit_seconds, std::uint32_t probe_pause_ms);

// Deletes the installer package, read-only or not; every failure is ignored.
void delete_package(std::u16string_view path);

}  // namespace vellomar
