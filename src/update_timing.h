#pragma once
// The pauses and limits of the update sequence, in one place: the sequence waits by them, and the
// bench and the tests measure against them. Standard C++ only.
#include <cstdint>

namespace vellomar {

// After an application process that cannot be waited for (gone already, or not the application).
inline constexpr std::uint32_t unopenable_process_pause_ms = 2000;
// The wait for the application's executable to become writable, and the pause between its probes.
inline constexpr std::uint64_t unlock_limit_seconds = 15;
inline constexpr std::uint32_t unlock_probe_pause_ms = 200;
// Before the package is checked, on every path.
inline constexpr std::uint32_t settling_pause_ms = 800;
// Unattended runs of the installer, and the pause before each one after the first.
inline constexpr int silent_attempts = 3;
inline constexpr std::uint32_t retry_pause_ms = 1000;

}  // namespace vellomar
