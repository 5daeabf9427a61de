#pragma once
// One update of the application at a time in a session: a named mutex, held from the installer
// check to the helper's end. Standard types only.

namespace vellomar {

// Ownership of the update mutex, released when this ends; should the process end first (a failure
// reported with a box, or a helper that was killed), the system releases it as abandoned.
class UpdateLock {
public:
    explicit UpdateLock(void* mutex) : mutex_(mutex) {}
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;
    ~UpdateLock();

private:
    void* mutex_;  // nullptr when the mutex could not be had
};

// Waits without a time limit until no other helper of this session holds the lock.
[[nodiscard]] UpdateLock take_update_lock();

}  // namespace vellomar
