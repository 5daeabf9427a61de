#pragma once
// GoogleTest's thread support waits on a Notification built from std::mutex and
// std::condition_variable, which libstdc++ lacks in the win32 thread model of MinGW's GCC 12 (the
// model the helper is built with, because it needs no winpthread). GoogleTest takes a Notification
// from outside when GTEST_HAS_NOTIFICATION_ is set; this one needs no lock. Only GoogleTest's own
// thread tests start threads through it, so the wait never runs in ours. (Its switch
// GTEST_IS_THREADSAFE=0 cannot be used instead: version 1.12 then fails to build its death tests
// for MinGW.)
#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    void Notify() { notified_.store(true, std::memory_order_release); }
    void WaitForNotification() {
        while (!notified_.load(std::memory_order_acquire)) {
        }
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
