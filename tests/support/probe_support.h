#pragma once
// Test-side tools for driving the real helper under Wine: start a program with an exact UTF-16
// command line, capture its standard error, time it, and read and dismiss its message boxes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <atomic>

#include "platform/handles.h"
#include "platform/win32.h"

namespace probe {

struct MessageBoxRecord {
    std::wstring caption;
    std::wstring text;
    bool error_icon = false;  // the box shows the red error icon
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

// Directory holding the running executable, with a trailing backslash.
std::wstring own_directory();

// A fresh, empty directory under the Windows temp folder.
std::wstring make_temp_directory(std::wstring_view tag);

std::uint64_t now_ms();

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

// The same UTF-16 units as the other string type.
std::wstring wide(std::u16string_view text);
std::u16string u16(std::wstring_view text);

std::string to_utf8(std::wstring_view text);
std::wstring from_utf8(std::string_view text);

}  // namespace probe

// Probe programs use the wide console entry point, which the system headers do not declare.
int wmain(int argc, wchar_t** argv);
