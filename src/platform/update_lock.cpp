#include "platform/update_lock.h"

#include "platform/handles.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

// In the session's namespace: each user updates their own installation without waiting for others.
constexpr const wchar_t* update_mutex_name = L"Local\\Vellomar.Update";

}  // namespace

UpdateLock::~UpdateLock() {
    if (mutex_ != nullptr) {
        (void)ReleaseMutex(mutex_);
        (void)CloseHandle(mutex_);
    }
}

// A mutex abandoned by a helper that was killed is owned all the same, and its installer has ended
// with it. Should the mutex not be had at all (another kind of object holds the name), the update
// goes on unguarded rather than not at all.
UpdateLock take_update_lock() {
    UniqueHandle mutex(CreateMutexW(nullptr, FALSE, update_mutex_name));
    if (!mutex.valid()) {
        return UpdateLock(nullptr);
    }
    const DWORD waited = WaitForSingleObject(mutex.get(), INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return UpdateLock(nullptr);
    }
    return UpdateLock(mutex.release());
}

}  // namespace vellomar
