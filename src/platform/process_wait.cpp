#include "platform/process_wait.h"

#include "platform/handles.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

std::uint64_t creation_time(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The application may have exited before the helper got here and its id may already belong to
// another process; one created after the helper itself cannot be the application that started it,
// so it is treated like a process that cannot be opened.
UniqueHandle open_application_process(std::uint32_t pid) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid()) {
        if (GetLastError() != ERROR_ACCESS_DENIED) {
            return {};
        }
        // A process we may only wait on cannot be checked; waiting is still the right default.
        return UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, pid));
    }
    const std::uint64_t target_created = creation_time(process.get());
    const std::uint64_t self_created = creation_time(GetCurrentProcess());
    if (target_created != 0 && self_created != 0 && target_created > self_created) {
        return {};
    }
    return process;
}

}  // namespace

bool wait_for_application_exit(std::uint32_t pid) {
    // The helper is not the application that started it, and waiting on itself would never end.
    if (pid == GetCurrentProcessId()) {
        return false;
    }
    const UniqueHandle process = open_application_process(pid);
    if (!process.valid()) {
        return false;
    }
    (void)WaitForSingleObject(process.get(), INFINITE);
    return true;
}

}  // namespace vellomar
