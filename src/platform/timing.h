#pragma once
#include <cstdint>

namespace vellomar {

// Milliseconds from a monotonic clock with an arbitrary origin.
std::uint64_t monotonic_ms();

// Sleeps for about `milliseconds`, to within a few milliseconds.
void pause_ms(std::uint32_t milliseconds);

}  // namespace vellomar
