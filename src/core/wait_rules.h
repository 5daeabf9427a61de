#pragma once
// The two decisions of the waits before an installation, apart from the system calls that feed
// them, so that they are tested natively. Standard C++ only.
#include <cstdint>

namespace vellomar {

// A process as far as the wait for the application knows it; `created` is 0 when it could not be read.
struct ProcessStart {
    std::uint32_t pid = 0;
    std::uint64_t created = 0;
};

// Whether `process` may still be the application that started the helper. Not the helper itself
// (waiting on itself would never end), and not a process created after the helper: the application's
// id was reused. An unknown creation time leaves the default, waiting.
inline bool may_be_application(const ProcessStart& process, const ProcessStart& helper) {
    if (process.pid == helper.pid) {
        return false;
    }
    return process.created == 0 || helper.created == 0 || process.created <= helper.created;
}

// Whether the wait for an unlocked executable probes again after `elapsed_ms`: while fewer than
// `limit_seconds` whole seconds have passed, so that the first probe always happens unless the limit is 0.
inline bool unlock_probe_due(std::uint64_t elapsed_ms, std::uint64_t limit_seconds) {
    return elapsed_ms / 1000 < limit_seconds;
}

}  // namespace vellomar
