#include "platform/process_wait.h"

#include "core/wait_rules.h"
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
// another process (or to the helper); one that cannot be the application is treated like a process
// that cannot be opened.
UniqueHandle open_application_process(std::uint32_t pid) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid()) {
        if (GetLastError() != ERROR_ACCESS_DENIED) {
            return {};
        }
        // A process we may only wait on cannot be checked; waiting is still the right default.
        process.reset(OpenProcess(SYNCHRONIZE, FALSE, pid));
    }
    const ProcessStart target{pid, process.valid() ? creation_time(process.get()) : 0};
    const ProcessStart helper{GetCurrentProcessId(), creation_time(GetCurrentProcess())};
    if (!may_be_application(target, helper)) {
        return {};
    }
    return process;
}

}  // namespace

bool wait_for_application_exit(std::uint32_t pid) {
    const UniqueHandle process = open_application_process(pid);
    if (!process.valid()) {
        return false;
    }
    (void)WaitForSingleObject(process.get(), INFINITE);
    return true;
}

}  // namespace vellomar
