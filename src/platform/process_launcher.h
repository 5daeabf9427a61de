#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "core/launch_text.h"

namespace vellomar {

// Starts the child, waits without a time limit, and returns its exit code (same bits, signed).
[[nodiscard]] std::variant<std::int32_t, LaunchError> run_and_wait(const LaunchRequest& request);

// Starts the child and lets go of it at once.
[[nodiscard]] std::optional<LaunchError> start_and_release(const LaunchRequest& request);

// The system's message for an OS error code, then " (os error N)".
std::u16string os_error_text(std::uint32_t code);

// What the helper's messages insert for a launch failure.
std::u16string launch_error_text(const LaunchError& error);

}  // namespace vellomar
