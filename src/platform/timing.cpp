#include "platform/timing.h"

#include "platform/handles.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

// Missing from some SDK headers; understood since Windows 10 1803.
constexpr DWORD create_waitable_timer_high_resolution = 0x2;

}  // namespace

std::uint64_t monotonic_ms() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    // Both always succeed since Windows XP; the tick count guards a zero divisor all the same.
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !QueryPerformanceCounter(&counter)) {
        return GetTickCount64();
    }
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    const auto per_second = static_cast<std::uint64_t>(frequency.QuadPart);
    // Split into whole seconds and the rest so that ticks * 1000 cannot overflow.
    return ticks / per_second * 1000 + ticks % per_second * 1000 / per_second;
}

void pause_ms(std::uint32_t milliseconds) {
    const UniqueHandle timer(CreateWaitableTimerExW(nullptr, nullptr, create_waitable_timer_high_resolution,
                                                    SYNCHRONIZE | TIMER_MODIFY_STATE));
    // Older systems refuse the flag; Sleep then waits with the scheduler's coarser tick.
    if (timer.valid()) {
        // Negative due times are relative, in 100 ns units.
        LARGE_INTEGER due{};
        due.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
        if (SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(timer.get(), INFINITE) == WAIT_OBJECT_0) {
            return;
        }
    }
    Sleep(milliseconds);
}

}  // namespace vellomar
