#pragma once
// The existence and regular-file tests and the wait for an unlocked executable. None of them
// reports an error: a failed query counts as absence. Standard types only.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/file_kind.h"

namespace vellomar {

std::optional<FileFacts> probe_existing(std::u16string_view path);
bool path_exists(std::u16string_view path);
bool is_existing_regular_file(std::u16string_view path);

// Polls every `probe_pause_ms` until `path` can be opened for writing, while fewer than
// `limit_seconds` whole seconds have passed: the first probe always happens unless the limit is 0.
void wait_for_file_unlock(std::u16string_view path, std::uint64_t limit_seconds, std::uint32_t probe_pause_ms);

}  // namespace vellomar
