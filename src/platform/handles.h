#pragma once
// The owners of the kernel objects and keys the platform code opens, each one UniqueOwner. Closing
// keeps the thread's last error intact, so that an owner going out of scope never changes what a
// caller reads.
#include "platform/unique_owner.h"
#include "platform/win32.h"

namespace vellomar {

template <typename Handle, auto close_function>
void close_keeping_last_error(Handle handle) {
    const DWORD saved = GetLastError();
    (void)close_function(handle);
    SetLastError(saved);
}

// Both NULL and INVALID_HANDLE_VALUE mean "nothing owned": Win32 uses either for failure.
using UniqueHandle = UniqueOwner<HANDLE, close_keeping_last_error<HANDLE, CloseHandle>, 0, -1>;
using UniqueFind = UniqueOwner<HANDLE, close_keeping_last_error<HANDLE, FindClose>, -1, 0>;
using UniqueKey = UniqueOwner<HKEY, close_keeping_last_error<HKEY, RegCloseKey>, 0>;

}  // namespace vellomar
