#pragma once
// The probe programs built beside the running one: copies of child_probe placed with their
// configuration and the records they write, processes started plainly, a process that has already
// ended, and a file lock held by another process.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "own_program.h"
#include "platform/handles.h"
#include "text_forms.h"

namespace support {

// A copy of child_probe at `path`, with its configuration at `path` + ".probe" (see
// probes/child_probe.cpp): `log` for its records (none: standard output), `exit_codes` ("0", "5,0",
// "0xC0000005"), `sleep_ms`, `write_file`; empty ones are left out. False when either could not be
// written.
[[nodiscard]] bool place_probe(const std::wstring& path, const std::wstring& log = {},
                               const std::wstring& exit_codes = {}, DWORD sleep_ms = 0,
                               const std::wstring& write_file = {});

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
// The log's records once it holds `count`, or what it holds after 20 s: a detached or
// shell-started probe logs after whoever started it has returned.
std::vector<ProbeRecord> wait_for_probe_records(const std::wstring& path, std::size_t count);

}  // namespace support
