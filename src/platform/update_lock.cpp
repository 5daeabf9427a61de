#include "platform/update_lock.h"

#include "platform/handles.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

// In the session's namespace: each session's helpers wait for one another, and those of other
// sessions (another user, the same user logged on twice) do not.
constexpr const wchar_t* update_mutex_name = L"Local\\Vellomar.Update";

BOOL release_and_close(HANDLE mutex) {
    (void)ReleaseMutex(mutex);
    return CloseHandle(mutex);
}

}  // namespace

void UpdateLock::release_mutex(void* mutex) {
    close_keeping_last_error<HANDLE, release_and_close>(mutex);
}

// A mutex abandoned by a helper that ended without releasing it is owned all the same; that says
// nothing about its installer, which may still be running (a helper killed from Task Manager leaves
// its installer behind). Should the mutex not be had at all, the update goes on unguarded rather
// than not at all: another kind of object holds the name, or an elevated helper created the mutex
// and a normal one may not open it.
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
