#pragma once
// One update of the application at a time in a session (not per user: the same user logged on
// twice has two): a named mutex, held from the installer check through the silent runs and what
// follows them, never while a box waits for the user. It keeps silent runs apart only: the
// installer the fallback opens through the shell shows its wizard after the lock is released.
// Standard types only.
#include "platform/unique_owner.h"

namespace vellomar {

class UpdateLock;

// Waits without a time limit until no other helper of this session holds the lock.
[[nodiscard]] UpdateLock take_update_lock();

// Ownership of the update mutex, released when this ends; should the process end first (a helper
// that was killed), the system releases it as abandoned.
class UpdateLock {
private:
    friend UpdateLock take_update_lock();
    // Releases and closes the mutex.
    static void release_mutex(void* mutex);
    explicit UpdateLock(void* mutex) : mutex_(mutex) {}

    UniqueOwner<void*, release_mutex, 0> mutex_;  // empty when the mutex could not be had
};

}  // namespace vellomar
