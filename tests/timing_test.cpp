#include "platform/timing.h"

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace vellomar {
namespace {

TEST(Timing, MonotonicClockNeverGoesBack) {
    std::uint64_t previous = monotonic_ms();
    for (int i = 0; i < 100000; ++i) {
        const std::uint64_t now = monotonic_ms();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(Timing, MonotonicClockCountsMillisecondsLikeTheTickCount) {
    const std::uint64_t clock_start = monotonic_ms();
    const ULONGLONG ticks_start = GetTickCount64();
    Sleep(500);
    const std::uint64_t clock_elapsed = monotonic_ms() - clock_start;
    const ULONGLONG ticks_elapsed = GetTickCount64() - ticks_start;
    EXPECT_GE(clock_elapsed, 480u);
    EXPECT_NEAR(static_cast<double>(clock_elapsed), static_cast<double>(ticks_elapsed), 60.0);
}

TEST(Timing, PauseLastsAboutTheRequestedTime) {
    for (const std::uint32_t requested : {1u, 200u, 800u}) {
        const ULONGLONG start = GetTickCount64();
        pause_ms(requested);
        const ULONGLONG elapsed = GetTickCount64() - start;
        // The tick count itself moves in steps of up to ~16 ms.
        EXPECT_GE(elapsed + 20, requested) << requested;
        EXPECT_LT(elapsed, requested + 500u) << requested;
    }
}

TEST(Timing, ZeroPauseReturnsAtOnce) {
    const std::uint64_t start = monotonic_ms();
    pause_ms(0);
    EXPECT_LT(monotonic_ms() - start, 100u);
}

}  // namespace
}  // namespace vellomar
