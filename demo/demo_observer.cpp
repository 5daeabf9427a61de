// demo_observer: watches an update from outside the product, for scripts/demo.
//   demo_observer --app EXE [--app-args TAIL] --installer-name NAME --package PATH
//                 [--version V] [--close-file PATH] [--timeout-ms N]
// Starts EXE with the command line `"EXE" TAIL` in its own directory, as a user would, and then
// records without touching the helper:
// - the application's exit, and when its executable can be opened for writing again;
// - every process named NAME (the installer), vellomar-update.exe or like EXE that appears:
//   start, end, exit code, parent and command line;
// - each change of DisplayVersion in HKCU\...\Uninstall\Vellomar, and the deletion of PATH;
// - each new line of sample-app.log beside EXE;
// - message boxes captioned "Vellomar更新" (read and dismissed) and installer windows. A window is
//   announced, then closed once --close-file exists (at once without that option).
// Output, UTF-8: "@app-pid N" when the application runs, "@window X Y W H TITLE" when an installer
// window has had time to paint; at the end a timeline in ms relative to the application's exit, and
// "fact KEY VALUE..." lines for the caller's checks. It ends once the helper has exited and its
// children have settled, or after --timeout-ms (default 90000).
#include "files.h"
#include "platform/handles.h"
#include "probe_support.h"
#include "registry.h"

// After <windows.h>, which the two above bring in.
#include <tlhelp32.h>
#include <winternl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using vellomar::UniqueHandle;

const wchar_t* const helper_name = L"vellomar-update.exe";
constexpr DWORD poll_ms = 10;
// An installer window is announced only after it has had time to paint, for a screenshot.
constexpr std::int64_t paint_delay = 700 * 10000;
// Processes the helper starts just before it exits are caught by the snapshots that follow.
constexpr std::int64_t settle_time = 800 * 10000;
constexpr std::int64_t relaunch_log_limit = 5000 * 10000;
constexpr std::int64_t close_limit = 5000 * 10000;

struct Config {
    std::wstring app;
    std::wstring app_args;
    std::wstring installer_name;
    std::wstring package;
    std::wstring version;
    std::wstring close_file;
    DWORD timeout_ms = 90000;
};

enum class Kind { application, helper, installer };

struct Watched {
    Kind kind = Kind::application;
    DWORD pid = 0;
    DWORD parent = 0;
    int run = 0;  // installers: 1, 2, ... in order of appearance
    UniqueHandle process;
    std::int64_t started = 0;
    std::optional<std::int64_t> ended;
    DWORD exit_code = 0;
    std::wstring command_line;
    HWND window = nullptr;
    std::int64_t window_seen = 0;
    bool window_announced = false;
    std::optional<std::int64_t> close_requested;
};

struct Event {
    std::int64_t time = 0;  // 100 ns units of the system clock, the unit of GetProcessTimes
    std::string text;
};

struct Observation {
    std::vector<Watched> processes;
    std::vector<Event> events;
    std::set<DWORD> preexisting;
    std::map<DWORD, std::wstring> names;  // executable names of the processes in the latest snapshot
    std::optional<std::int64_t> unlocked;
    std::optional<std::int64_t> stamped;
    std::optional<std::int64_t> package_deleted;
    std::wstring display_version;
    std::wstring initial_display_version;
    std::size_t log_offset = 0;
    std::vector<std::string> log_lines;
    std::vector<std::string> boxes;
    std::vector<std::string> windows;
};

std::int64_t now() {
    FILETIME time{};
    GetSystemTimePreciseAsFileTime(&time);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

std::int64_t from_filetime(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

std::string utf8(const std::wstring& text) { return probe::to_utf8(text); }

std::wstring directory_of(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring file_name_of(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

bool same_name(const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) == 0; }

// The command line another process was started with, read from its process parameters; empty
// while the new process has not set them up yet.
std::wstring command_line_of(HANDLE process) {
    using QueryProcess = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    if (query == nullptr || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 ||
        basic.PebBaseAddress == nullptr) {
        return {};
    }
    const auto* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    void* parameters = nullptr;
    UNICODE_STRING line{};
    if (!ReadProcessMemory(process, peb + offsetof(PEB, ProcessParameters), &parameters, sizeof(parameters),
                           nullptr) ||
        parameters == nullptr ||
        !ReadProcessMemory(process,
                           static_cast<const BYTE*>(parameters) + offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine),
                           &line, sizeof(line), nullptr) ||
        line.Buffer == nullptr || line.Length == 0) {
        return {};
    }
    std::wstring text(line.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process, line.Buffer, text.data(), line.Length, nullptr)) return {};
    return text;
}

// What follows the program name: `"C:\a b\x.exe" /S` gives `/S`, `x.exe` gives ``.
std::wstring arguments_of(const std::wstring& command_line) {
    size_t end = 0;
    if (!command_line.empty() && command_line[0] == L'"') {
        end = command_line.find(L'"', 1);
        end = end == std::wstring::npos ? command_line.size() : end + 1;
    } else {
        end = std::min(command_line.find(L' '), command_line.size());
    }
    const size_t first = command_line.find_first_not_of(L" \t", end);
    return first == std::wstring::npos ? std::wstring() : command_line.substr(first);
}

std::int64_t creation_time(HANDLE process, std::int64_t fallback) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return fallback;
    return from_filetime(created);
}

std::int64_t exit_time(HANDLE process, std::int64_t fallback) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user) || from_filetime(exited) == 0) return fallback;
    return from_filetime(exited);
}

UniqueHandle open_process(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE | SYNCHRONIZE,
                                     FALSE, pid));
    if (!process.valid()) process = UniqueHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    return process;
}

std::string label(const Watched& watched) {
    switch (watched.kind) {
        case Kind::application: return "sample-app.exe (pid " + std::to_string(watched.pid) + ")";
        case Kind::helper: return "vellomar-update.exe (pid " + std::to_string(watched.pid) + ")";
        case Kind::installer: return "installer run " + std::to_string(watched.run);
    }
    return {};
}

const Watched* find_pid(const Observation& seen, DWORD pid) {
    for (const Watched& watched : seen.processes) {
        if (watched.pid == pid) return &watched;
    }
    return nullptr;
}

std::string parent_text(const Observation& seen, DWORD parent) {
    const Watched* by = find_pid(seen, parent);
    if (by != nullptr) return label(*by);
    const auto name = seen.names.find(parent);
    return (name == seen.names.end() ? std::string("pid ") : utf8(name->second) + " (pid ") + std::to_string(parent) +
           (name == seen.names.end() ? "" : ")");
}

void note(Observation& seen, std::int64_t time, std::string text) { seen.events.push_back({time, std::move(text)}); }

void record_start(Observation& seen, Watched& watched) {
    const std::wstring arguments = arguments_of(watched.command_line);
    std::string text = label(watched) + " started by " + parent_text(seen, watched.parent);
    if (watched.kind == Kind::installer && !watched.command_line.empty() && arguments.empty()) {
        text += " without arguments (interactive)";
    }
    if (!watched.command_line.empty()) text += ": " + utf8(watched.command_line);
    note(seen, watched.started, std::move(text));
}

// Adds every new process of interest. Handles stay open, so a pid is never reused while we watch.
void scan_processes(Observation& seen, const Config& config, std::int64_t time) {
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const std::wstring app_name = file_name_of(config.app);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        seen.names[entry.th32ProcessID] = entry.szExeFile;
    }
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (seen.preexisting.count(entry.th32ProcessID) != 0 || find_pid(seen, entry.th32ProcessID) != nullptr) continue;
        Watched watched;
        if (same_name(entry.szExeFile, config.installer_name)) {
            watched.kind = Kind::installer;
        } else if (same_name(entry.szExeFile, helper_name)) {
            watched.kind = Kind::helper;
        } else if (same_name(entry.szExeFile, app_name)) {
            watched.kind = Kind::application;
        } else {
            continue;
        }
        watched.pid = entry.th32ProcessID;
        watched.parent = entry.th32ParentProcessID;
        watched.process = open_process(entry.th32ProcessID);
        watched.started = watched.process.valid() ? creation_time(watched.process.get(), time) : time;
        if (watched.kind == Kind::installer) {
            watched.run = 1 + static_cast<int>(std::count_if(seen.processes.begin(), seen.processes.end(),
                                                             [](const Watched& w) { return w.kind == Kind::installer; }));
        }
        if (watched.process.valid()) watched.command_line = command_line_of(watched.process.get());
        if (!watched.process.valid()) watched.ended = time;  // gone before we could open it
        record_start(seen, watched);
        seen.processes.push_back(std::move(watched));
    }
}

void check_exits(Observation& seen, std::int64_t time) {
    for (Watched& watched : seen.processes) {
        if (watched.ended || !watched.process.valid()) continue;
        if (watched.command_line.empty()) {
            watched.command_line = command_line_of(watched.process.get());
            if (!watched.command_line.empty()) {
                note(seen, time, label(watched) + " command line: " + utf8(watched.command_line));
            }
        }
        if (WaitForSingleObject(watched.process.get(), 0) != WAIT_OBJECT_0) continue;
        watched.ended = exit_time(watched.process.get(), time);
        (void)GetExitCodeProcess(watched.process.get(), &watched.exit_code);
        note(seen, *watched.ended, label(watched) + " exited, code " + std::to_string(static_cast<long>(watched.exit_code)));
    }
}

// The same probe the helper makes: can the executable be opened for writing?
void probe_unlock(Observation& seen, const Config& config, std::int64_t time) {
    const UniqueHandle file(CreateFileW(config.app.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    if (!file.valid()) return;
    seen.unlocked = time;
    note(seen, time, "sample-app.exe can be opened for writing (unlocked)");
}

std::wstring read_display_version() {
    const std::wstring value = probe::read_string(HKEY_CURRENT_USER, L"DisplayVersion");
    return value == L"<missing>" ? L"(none)" : value;
}

void check_registry(Observation& seen, const Config& config, std::int64_t time) {
    const std::wstring value = read_display_version();
    if (value == seen.display_version) return;
    std::string text = "uninstall entry DisplayVersion " + utf8(seen.display_version) + " -> " + utf8(value);
    if (!config.version.empty() && value == config.version) {
        seen.stamped = time;
        text += " (entry stamped)";
    }
    note(seen, time, std::move(text));
    seen.display_version = value;
}

void check_package(Observation& seen, const Config& config, std::int64_t time) {
    if (seen.package_deleted || probe::file_exists(config.package)) return;
    seen.package_deleted = time;
    note(seen, time, "package deleted: " + utf8(config.package));
}

std::wstring log_path(const Config& config) { return directory_of(config.app) + L"\\sample-app.log"; }

void check_log(Observation& seen, const Config& config, std::int64_t time) {
    const std::string content = probe::read_bytes(log_path(config));
    for (size_t end = content.find('\n', seen.log_offset); end != std::string::npos;
         end = content.find('\n', seen.log_offset)) {
        const std::string line = content.substr(seen.log_offset, end - seen.log_offset);
        seen.log_offset = end + 1;
        seen.log_lines.push_back(line);
        note(seen, time, "log: " + line);
    }
}

void record_boxes(Observation& seen, const std::vector<probe::MessageBoxRecord>& boxes, std::int64_t time) {
    for (const probe::MessageBoxRecord& box : boxes) {
        const std::string text = utf8(box.caption) + ": " + utf8(box.text);
        seen.boxes.push_back(text);
        note(seen, time, "message box " + text);
    }
}

// The visible, titled top-level window of a process, if it has one yet.
HWND main_window_of(DWORD pid) {
    for (HWND window = GetTopWindow(nullptr); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == pid && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == nullptr &&
            GetWindowTextLengthW(window) > 0) {
            return window;
        }
    }
    return nullptr;
}

std::wstring window_title(HWND window) {
    wchar_t buffer[512];
    const int length = GetWindowTextW(window, buffer, 512);
    return std::wstring(buffer, static_cast<size_t>(length > 0 ? length : 0));
}

// Announces each installer window once it has painted, and closes it when the caller is done.
void check_windows(Observation& seen, const Config& config, std::int64_t time) {
    for (Watched& watched : seen.processes) {
        if (watched.kind != Kind::installer || watched.ended) continue;
        if (watched.window == nullptr) {
            watched.window = main_window_of(watched.pid);
            if (watched.window == nullptr) continue;
            watched.window_seen = time;
            const std::string title = utf8(window_title(watched.window));
            seen.windows.push_back(title);
            note(seen, time, label(watched) + " shows its window \"" + title + "\"");
        }
        if (!watched.window_announced && time - watched.window_seen >= paint_delay) {
            RECT rect{};
            (void)GetWindowRect(watched.window, &rect);
            std::printf("@window %ld %ld %ld %ld %s\n", rect.left, rect.top, rect.right - rect.left,
                        rect.bottom - rect.top, utf8(window_title(watched.window)).c_str());
            std::fflush(stdout);
            watched.window_announced = true;
        }
        const bool caller_done =
            config.close_file.empty() || probe::file_exists(config.close_file);
        if (watched.window_announced && !watched.close_requested && caller_done) {
            watched.close_requested = time;
            (void)PostMessageW(watched.window, WM_CLOSE, 0, 0);
            note(seen, time, label(watched) + ": window closed (WM_CLOSE)");
        }
        if (watched.close_requested && time - *watched.close_requested > close_limit) {
            (void)TerminateProcess(watched.process.get(), 0xDEAD);
            note(seen, time, label(watched) + " did not close: terminated");
            watched.close_requested = time;
        }
    }
}

// Done once the helper has exited, every installer has ended, and a relaunched application has
// logged that it runs (or had its time to).
bool finished(const Observation& seen, const Watched& app, std::int64_t time) {
    const Watched* helper = nullptr;
    for (const Watched& watched : seen.processes) {
        if (watched.kind == Kind::helper) helper = &watched;
    }
    if (helper == nullptr || !helper->ended || time - *helper->ended < settle_time) return false;
    for (const Watched& watched : seen.processes) {
        if (watched.kind == Kind::installer && !watched.ended) return false;
        const bool relaunched = watched.kind == Kind::application && watched.pid != app.pid;
        if (relaunched && time - watched.started < relaunch_log_limit &&
            (seen.log_lines.empty() || seen.log_lines.back() != "running")) {
            return false;
        }
    }
    return true;
}

std::string relative(std::int64_t time, std::int64_t base) {
    const std::int64_t ms = (time - base) / 10000;
    return (ms > 0 ? "+" : "") + std::to_string(ms);
}

void print_report(Observation& seen, const Watched& app, bool timed_out) {
    const std::int64_t base = app.ended.value_or(app.started);
    std::stable_sort(seen.events.begin(), seen.events.end(),
                     [](const Event& a, const Event& b) { return a.time < b.time; });
    std::printf("timeline (ms relative to the application's exit; log lines when first seen):\n");
    for (const Event& event : seen.events) {
        std::printf("%8s  %s\n", relative(event.time, base).c_str(), event.text.c_str());
    }
    const auto fact_time = [&](const char* key, const std::optional<std::int64_t>& time) {
        std::printf("fact %s %s\n", key, time ? relative(*time, base).c_str() : "none");
    };
    std::printf("fact timed_out %d\n", timed_out ? 1 : 0);
    std::printf("fact app_exit %s\n", app.ended ? std::to_string(static_cast<long>(app.exit_code)).c_str() : "none");
    fact_time("unlocked_ms", seen.unlocked);
    fact_time("stamped_ms", seen.stamped);
    fact_time("package_deleted_ms", seen.package_deleted);
    std::printf("fact display_version_before %s\n", utf8(seen.initial_display_version).c_str());
    std::printf("fact display_version %s\n", utf8(seen.display_version).c_str());
    for (const Watched& watched : seen.processes) {
        const std::string end = watched.ended ? relative(*watched.ended, base) : "none";
        const std::string code = watched.ended ? std::to_string(static_cast<long>(watched.exit_code)) : "none";
        if (watched.kind == Kind::helper) {
            std::printf("fact helper %lu %s %s\n", watched.pid, end.c_str(), code.c_str());
        } else if (watched.kind == Kind::installer) {
            std::printf("fact run %d %s %s %s %lu %s\n", watched.run, relative(watched.started, base).c_str(),
                        end.c_str(), code.c_str(), watched.parent, utf8(watched.command_line).c_str());
        } else if (watched.pid != app.pid) {
            std::printf("fact relaunch %lu %lu %s\n", watched.pid, watched.parent, relative(watched.started, base).c_str());
        }
    }
    for (const std::string& box : seen.boxes) std::printf("fact box %s\n", box.c_str());
    for (const std::string& window : seen.windows) std::printf("fact window %s\n", window.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Config config;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring flag = argv[i];
        const std::wstring value = argv[i + 1];
        if (flag == L"--app") config.app = value;
        else if (flag == L"--app-args") config.app_args = value;
        else if (flag == L"--installer-name") config.installer_name = value;
        else if (flag == L"--package") config.package = value;
        else if (flag == L"--version") config.version = value;
        else if (flag == L"--close-file") config.close_file = value;
        else if (flag == L"--timeout-ms") config.timeout_ms = static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10));
    }
    if (config.app.empty() || config.installer_name.empty() || config.package.empty()) {
        std::fputs("usage: demo_observer --app EXE [--app-args TAIL] --installer-name NAME --package PATH "
                   "[--version V] [--close-file PATH] [--timeout-ms N]\n", stderr);
        return 2;
    }

    // Plain "\n" line ends: scripts read these lines.
    (void)_setmode(_fileno(stdout), _O_BINARY);
    Observation seen;
    {
        const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = snapshot.valid() && Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            seen.preexisting.insert(entry.th32ProcessID);
        }
    }
    seen.display_version = seen.initial_display_version = read_display_version();
    seen.log_offset = probe::read_bytes(log_path(config)).size();
    probe::BoxWatch boxes(0, probe::helper_caption);

    // The application exits moments after it hands over; starting it ourselves keeps its handle, so
    // its exit time is exact. Like a shell, we give it no handles and its own directory.
    Watched app;
    app.kind = Kind::application;
    app.command_line = L"\"" + config.app + L"\"" + (config.app_args.empty() ? L"" : L" " + config.app_args);
    std::wstring buffer = app.command_line;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(config.app.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory_of(config.app).c_str(), &startup, &created)) {
        const DWORD error = GetLastError();
        std::printf("could not start the application: error %lu\n", error);
        (void)boxes.stop();
        return 1;
    }
    const UniqueHandle thread(created.hThread);
    app.process = UniqueHandle(created.hProcess);
    app.pid = created.dwProcessId;
    app.parent = GetCurrentProcessId();
    app.started = creation_time(app.process.get(), now());
    std::printf("@app-pid %lu\n", app.pid);
    std::fflush(stdout);
    note(seen, app.started, label(app) + " started: " + utf8(app.command_line));
    seen.processes.push_back(std::move(app));

    const std::int64_t deadline = now() + static_cast<std::int64_t>(config.timeout_ms) * 10000;
    bool timed_out = false;
    bool locked_noted = false;
    for (;;) {
        // Each check stamps what it sees with its own time: a round costs a few milliseconds. The log
        // comes first, so that the line an application writes just before it exits reads before the exit.
        check_log(seen, config, now());
        scan_processes(seen, config, now());
        check_exits(seen, now());
        const Watched& first = seen.processes.front();
        // Only until an installer runs: an open handle of ours must never make it fail.
        const bool installer_seen = std::any_of(seen.processes.begin(), seen.processes.end(),
                                                [](const Watched& w) { return w.kind == Kind::installer; });
        if (first.ended && !seen.unlocked && !installer_seen) probe_unlock(seen, config, now());
        if (first.ended && !seen.unlocked && installer_seen && !locked_noted) {
            note(seen, now(), "sample-app.exe still cannot be opened for writing (locked)");
            locked_noted = true;
        }
        check_registry(seen, config, now());
        check_package(seen, config, now());
        record_boxes(seen, boxes.take(), now());
        check_windows(seen, config, now());
        const std::int64_t time = now();
        if (finished(seen, first, time)) break;
        if (time > deadline) {
            timed_out = true;
            break;
        }
        Sleep(poll_ms);
    }
    record_boxes(seen, boxes.stop(), now());
    print_report(seen, seen.processes.front(), timed_out);
    std::fflush(stdout);
    return 0;
}
