#include "clock.h"

namespace support {

std::uint64_t epoch_ms(const FILETIME& time) {
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return ticks / 10000 - 11644473600000ull;
}

std::uint64_t epoch_ms() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return epoch_ms(now);
}

bool poll_until(const std::function<bool()>& done, std::uint32_t limit_ms) {
    const std::uint64_t deadline = epoch_ms() + limit_ms;
    for (;;) {
        if (done()) return true;
        if (epoch_ms() >= deadline) return false;
        Sleep(20);
    }
}

}  // namespace support
