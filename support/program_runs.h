#pragma once
// Running the real helper, or any program, the way an application does: an exact UTF-16 command
// line, its standard error captured, its run timed, and its message boxes read and dismissed.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "clock.h"
#include "own_program.h"
#include "platform/handles.h"
#include "text_forms.h"

namespace support {

struct MessageBoxRecord {
    std::wstring caption;
    std::wstring text;
    bool error_icon = false;  // the box shows the red error icon
    std::uint64_t seen_ms = 0;  // epoch_ms() when the watch found it visible, before it was read
};

struct RunResult {
    bool started = false;
    DWORD start_error = 0;
    DWORD exit_code = 0;
    bool timed_out = false;
    std::uint64_t elapsed_ms = 0;
    std::string standard_error;  // raw bytes written to the standard-error handle
    std::vector<MessageBoxRecord> boxes;
};

struct RunOptions {
    std::wstring current_directory;  // empty: inherit
    DWORD timeout_ms = 120000;       // the process is killed after this
    bool give_standard_error = true; // false: the child gets no standard handles at all
};

// Starts `application` with `command_line` exactly as given (nothing is added or quoted), watches
// for message boxes of that process captioned "Vellomar更新" and dismisses each with OK.
RunResult run_exact(const std::wstring& application, const std::wstring& command_line,
                    const RunOptions& options = {});

// The helper under test, beside the running executable.
std::wstring helper_path();

// run_exact of the helper with the command line `"<helper_path()>"` + `tail`.
RunResult run_helper(const std::wstring& tail, const RunOptions& options = {});

// The helper's caption, as the boxes must show it.
extern const wchar_t* const helper_caption;

// Reads and dismisses boxes with `caption` owned by `pid` (0: any process) on a thread of its own,
// from its construction until stop() or its end.
class BoxWatch {
public:
    BoxWatch(DWORD pid, std::wstring caption);
    ~BoxWatch();
    BoxWatch(const BoxWatch&) = delete;
    BoxWatch& operator=(const BoxWatch&) = delete;
    // The boxes read since the last call, while the watch goes on.
    std::vector<MessageBoxRecord> take();
    // Ends the watch after one last sweep; the boxes not yet taken.
    std::vector<MessageBoxRecord> stop();

private:
    static DWORD WINAPI run(void* parameter);
    DWORD pid_;
    std::wstring caption_;
    std::atomic<bool> stop_requested_{false};
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<MessageBoxRecord> records_;
    vellomar::UniqueHandle thread_;
};

}  // namespace support
