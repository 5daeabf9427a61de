#pragma once
// Processes for the tests: the programs built beside them, started plainly, a process that has
// already ended, a file lock held by another process, and the records child_probe writes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"
#include "platform/win32.h"

namespace probe {

// The helper under test, beside the test executable.
std::wstring helper_path();

// Milliseconds since the Unix epoch: the clock child_probe stamps its records with.
std::uint64_t epoch_ms();

bool running_under_wine();

// Asks `done` every 20 ms until it holds or `limit_ms` have passed; its last answer.
bool poll_until(const std::function<bool()>& done, std::uint32_t limit_ms);

struct StartedProcess {
    vellomar::UniqueHandle process;
    vellomar::UniqueHandle thread;
    DWORD id = 0;
};

// Starts `application` with `command_line` exactly as given, inheriting nothing and with no
// standard handles, so that no child writes into the test's output. Nothing valid when it failed.
StartedProcess start_process(const std::wstring& application, std::wstring command_line, DWORD flags = 0,
                             const std::wstring& directory = {});

// A process that has ended but whose id stays valid while this object lives, because its handle
// is held. Given as --pid, the helper opens it, finds it older than itself and already signalled,
// and goes on at once, without the pause an id it cannot open costs.
struct ExitedProcess {
    vellomar::UniqueHandle process;
    DWORD id = 0;
};
ExitedProcess exited_process();

// lock_probe holding `path` open for reading with no sharing, as a running program holds its own
// image, for `hold_ms`; ended at the latest when this object goes.
class FileLock {
public:
    FileLock(const std::wstring& path, DWORD hold_ms);
    ~FileLock() { release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // True once an open of the file for writing meets a sharing violation.
    bool wait_until_taken() const;
    void release();
    std::uint64_t started_ms() const { return started_ms_; }  // epoch_ms() just before the start

private:
    std::wstring path_;
    std::uint64_t started_ms_ = 0;
    vellomar::UniqueHandle process_;
};

// One record of child_probe: `run N TAB ms TAB command line TAB directory TAB std=xyz TAB argv`
// (see probes/child_probe.cpp). Only the command line and argv may hold TABs, and test data never
// holds "std=".
struct ProbeRecord {
    std::uint64_t time_ms = 0;  // as epoch_ms()
    std::wstring command_line;
    std::wstring directory;
    std::string std_flags;  // "010": which of the three standard handles the child had
    std::vector<std::wstring> argv;
};

// The complete records of a log or captured output; a line still being written is left out.
std::vector<ProbeRecord> read_probe_log(const std::wstring& path);

}  // namespace probe
