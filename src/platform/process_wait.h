#pragma once
#include <cstdint>

namespace vellomar {

// Waits without a time limit for the application's process to end. False when there was nothing
// to wait for: the id cannot be opened, or it names a process that cannot be the application (one
// younger than the helper, or the helper itself).
[[nodiscard]] bool wait_for_application_exit(std::uint32_t pid);

}  // namespace vellomar
