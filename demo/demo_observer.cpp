// demo_observer: watches an update from outside the helper, for scripts/demo.
//   demo_observer APP PACKAGE [--app-args TAIL] [--close-file PATH]
// Starts APP with `"APP" TAIL` in its own directory, as a user would, and then records, without
// touching the helper, until the helper has ended and what it started has settled (at most 90 s):
// - the processes named like APP, the helper or PACKAGE (the installer): start, parent, command
//   line, end and exit code;
// - when APP's executable can be opened for writing again after APP's exit;
// - DisplayVersion of the uninstall entry in HKCU, the deletion of PACKAGE, new lines of
//   sample-app.log beside APP;
// - boxes captioned "Vellomar更新" (read and answered OK) and installer windows, each announced once
//   it has painted and closed once the close file exists (at once without one).
// Output, UTF-8: "@app-pid N" once APP runs and "@window X Y W H TITLE" for a painted installer
// window; at the end a timeline in ms from APP's exit and the facts the script checks:
//   fact timed_out 0|1, fact helper EXIT, fact run N EXIT BY ARGUMENTS, fact relaunch BY, fact box TEXT
// where BY is "helper" when the helper started that process and EXIT is "none" while it runs.
#include "files.h"
#include "probe_support.h"
#include "processes.h"
#include "registry.h"

// After <windows.h>, which the headers above bring in.
#include <tlhelp32.h>
#include <winternl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using probe::epoch_ms;
using vellomar::UniqueHandle;

struct Watched {
    std::string label;
    DWORD pid = 0;
    DWORD parent = 0;
    UniqueHandle process;
    std::uint64_t started_ms = 0;
    std::optional<std::uint64_t> ended_ms;
    DWORD exit_code = 0;
    std::wstring command_line;
    bool installer = false;
    HWND window = nullptr;
    std::uint64_t window_ms = 0;
    bool announced = false;
    bool closed = false;
};

struct Event {
    std::uint64_t time_ms = 0;
    std::string text;
};

std::string utf8(const std::wstring& text) { return probe::to_utf8(text); }

std::wstring name_of(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

// The command line another process was started with, from its process parameters; empty until
// the new process has set them up. (Wine 8 does not answer ProcessCommandLineInformation.)
std::wstring command_line_of(HANDLE process) {
    using Query = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    void* parameters = nullptr;
    UNICODE_STRING line{};
    if (query == nullptr || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 ||
        !ReadProcessMemory(process, reinterpret_cast<BYTE*>(basic.PebBaseAddress) + offsetof(PEB, ProcessParameters),
                           &parameters, sizeof(parameters), nullptr) ||
        parameters == nullptr ||
        !ReadProcessMemory(process,
                           static_cast<BYTE*>(parameters) + offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine), &line,
                           sizeof(line), nullptr)) {
        return {};
    }
    std::wstring text(line.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process, line.Buffer, text.data(), line.Length, nullptr)) return {};
    return text;
}

// What follows the program name: `"C:\a b\x.exe" /S` gives `/S`.
std::wstring arguments_of(const std::wstring& command_line) {
    const std::size_t end = command_line.rfind(L'"', 0) == 0 ? command_line.find(L'"', 1) : command_line.find(L' ');
    const std::size_t first = end == std::wstring::npos ? end : command_line.find_first_not_of(L' ', end + 1);
    return first == std::wstring::npos ? std::wstring() : command_line.substr(first);
}

std::uint64_t process_time_ms(HANDLE process, bool exit) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return epoch_ms();
    return epoch_ms(exit ? exited : created);
}

Watched watch(std::string label, DWORD pid, DWORD parent, UniqueHandle process) {
    Watched watched;
    watched.label = std::move(label);
    watched.pid = pid;
    watched.parent = parent;
    watched.process = std::move(process);
    watched.started_ms = process_time_ms(watched.process.get(), false);
    if (!watched.process.valid()) watched.ended_ms = watched.started_ms;  // gone before it could be opened
    return watched;
}

std::string parent_of(const std::vector<Watched>& watched, const Watched& child) {
    for (const Watched& parent : watched) {
        if (parent.pid == child.parent) return parent.label;
    }
    return "pid " + std::to_string(child.parent);
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
    wchar_t title[512];
    return std::wstring(title, static_cast<std::size_t>(std::max(0, GetWindowTextW(window, title, 512))));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fputs("usage: demo_observer APP PACKAGE [--app-args TAIL] [--close-file PATH]\n", stderr);
        return 2;
    }
    const std::wstring app_path = argv[1];
    const std::wstring package = argv[2];
    std::wstring app_args, close_file;
    for (int i = 3; i + 1 < argc; i += 2) {
        (std::wstring(argv[i]) == L"--app-args" ? app_args : close_file) = argv[i + 1];
    }
    const std::wstring app_dir = app_path.substr(0, app_path.find_last_of(L'\\'));
    const std::wstring log_path = app_dir + L"\\sample-app.log";
    // Plain "\n" line ends: the script reads these lines.
    (void)_setmode(_fileno(stdout), _O_BINARY);

    std::set<DWORD> earlier;  // processes that ran before the demo: never watched
    const UniqueHandle first_snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(first_snapshot.get(), &entry); more; more = Process32NextW(first_snapshot.get(), &entry)) {
        earlier.insert(entry.th32ProcessID);
    }
    std::vector<Event> events;
    std::wstring display_version = probe::read_string(HKEY_CURRENT_USER, L"DisplayVersion");
    std::size_t log_offset = probe::read_bytes(log_path).size();
    probe::BoxWatch boxes(0, probe::helper_caption);
    std::vector<std::string> box_texts;

    // Started here, so that its exit time is exact; like a shell, with no handles and in its own directory.
    probe::StartedProcess app =
        probe::start_process(app_path, probe::in_quotes(app_path) + (app_args.empty() ? L"" : L" " + app_args), 0, app_dir);
    if (!app.process.valid()) {
        std::printf("could not start the application: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("@app-pid %lu\n", app.id);
    std::fflush(stdout);
    std::vector<Watched> watched;
    watched.push_back(watch("sample-app.exe (v1)", app.id, GetCurrentProcessId(), std::move(app.process)));
    watched[0].command_line = probe::in_quotes(app_path) + (app_args.empty() ? L"" : L" " + app_args);

    const std::uint64_t deadline_ms = epoch_ms() + 90000;
    std::optional<std::uint64_t> unlocked_ms;
    int installer_runs = 0;
    bool timed_out = false;
    for (;; Sleep(10)) {
        const std::uint64_t now = epoch_ms();
        // The log first, so that a line written just before an exit reads before that exit.
        const std::string log = probe::read_bytes(log_path);
        for (std::size_t end; (end = log.find('\n', log_offset)) != std::string::npos; log_offset = end + 1) {
            events.push_back({now, "log: " + log.substr(log_offset, end - log_offset)});
        }
        const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
            const std::wstring name = entry.szExeFile;
            const bool installer = lstrcmpiW(name.c_str(), name_of(package).c_str()) == 0;
            const bool known = std::any_of(watched.begin(), watched.end(),
                                           [&](const Watched& w) { return w.pid == entry.th32ProcessID; });
            if (known || earlier.count(entry.th32ProcessID) != 0 ||
                (!installer && lstrcmpiW(name.c_str(), L"vellomar-update.exe") != 0 &&
                 lstrcmpiW(name.c_str(), name_of(app_path).c_str()) != 0)) {
                continue;
            }
            watched.push_back(watch(installer ? "installer run " + std::to_string(++installer_runs)
                                              : utf8(name) + " (pid " + std::to_string(entry.th32ProcessID) + ")",
                                    entry.th32ProcessID, entry.th32ParentProcessID,
                                    UniqueHandle(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE,
                                                             FALSE, entry.th32ProcessID))));
            watched.back().installer = installer;
        }
        for (Watched& process : watched) {
            if (process.ended_ms) continue;
            if (process.command_line.empty()) process.command_line = command_line_of(process.process.get());
            if (WaitForSingleObject(process.process.get(), 0) == WAIT_OBJECT_0) {
                process.ended_ms = process_time_ms(process.process.get(), true);
                (void)GetExitCodeProcess(process.process.get(), &process.exit_code);
            }
        }
        // The helper's own test, and only until an installer runs: our handle must never make it fail.
        if (watched[0].ended_ms && !unlocked_ms && installer_runs == 0 &&
            UniqueHandle(CreateFileW(app_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                     nullptr)).valid()) {
            unlocked_ms = now;
            events.push_back({now, "sample-app.exe can be opened for writing (unlocked)"});
        }
        const std::wstring version = probe::read_string(HKEY_CURRENT_USER, L"DisplayVersion");
        if (version != display_version) {
            events.push_back({now, "uninstall entry DisplayVersion " + utf8(display_version) + " -> " + utf8(version)});
            display_version = version;
        }
        if (!probe::file_exists(package) &&
            std::none_of(events.begin(), events.end(), [](const Event& e) { return e.text == "package deleted"; })) {
            events.push_back({now, "package deleted"});
        }
        for (const probe::MessageBoxRecord& box : boxes.take()) {
            box_texts.push_back(utf8(box.caption) + ": " + utf8(box.text));
            events.push_back({box.seen_ms, "message box " + box_texts.back()});
        }
        for (Watched& process : watched) {
            if (!process.installer || process.ended_ms || process.closed) continue;
            if (process.window == nullptr && (process.window = main_window_of(process.pid)) != nullptr) {
                process.window_ms = now;
                events.push_back({now, process.label + " shows its window \"" + utf8(window_title(process.window)) + "\""});
            }
            // Announced once it has had time to paint, for the screenshot.
            if (process.window != nullptr && !process.announced && now - process.window_ms >= 700) {
                RECT rect{};
                (void)GetWindowRect(process.window, &rect);
                std::printf("@window %ld %ld %ld %ld %s\n", rect.left, rect.top, rect.right - rect.left,
                            rect.bottom - rect.top, utf8(window_title(process.window)).c_str());
                std::fflush(stdout);
                process.announced = true;
            }
            if (process.announced && (close_file.empty() || probe::file_exists(close_file))) {
                (void)PostMessageW(process.window, WM_CLOSE, 0, 0);
                events.push_back({now, process.label + ": window closed"});
                process.closed = true;
            }
        }
        // Settled: the helper ended 1.5 s ago, and no installer still runs.
        const bool settled = std::any_of(watched.begin(), watched.end(), [&](const Watched& w) {
            return w.label.rfind("vellomar-update.exe", 0) == 0 && w.ended_ms && now - *w.ended_ms > 1500;
        }) && std::none_of(watched.begin(), watched.end(), [](const Watched& w) { return w.installer && !w.ended_ms; });
        timed_out = now > deadline_ms;
        if (settled || timed_out) break;
    }
    for (const probe::MessageBoxRecord& box : boxes.stop()) box_texts.push_back(utf8(box.caption) + ": " + utf8(box.text));

    std::string facts = "fact timed_out " + std::to_string(timed_out ? 1 : 0) + "\n";
    for (const Watched& process : watched) {
        const bool by_helper = parent_of(watched, process).rfind("vellomar-update.exe", 0) == 0;
        const std::string exit = process.ended_ms ? std::to_string(static_cast<long>(process.exit_code)) : "none";
        events.push_back({process.started_ms, process.label + " started by " + parent_of(watched, process) + ": " +
                                                  utf8(process.command_line)});
        if (process.ended_ms) events.push_back({*process.ended_ms, process.label + " exited, code " + exit});
        if (process.installer) {
            facts += "fact run " + process.label.substr(14) + " " + exit + (by_helper ? " helper " : " other ") +
                     utf8(arguments_of(process.command_line)) + "\n";
        } else if (process.label.rfind("vellomar-update.exe", 0) == 0) {
            facts += "fact helper " + exit + "\n";
        } else if (&process != &watched[0]) {
            facts += std::string("fact relaunch ") + (by_helper ? "helper" : "other") + "\n";
        }
    }
    for (const std::string& box : box_texts) facts += "fact box " + box + "\n";
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.time_ms < b.time_ms; });
    const std::uint64_t base_ms = watched[0].ended_ms.value_or(watched[0].started_ms);
    std::printf("timeline (ms from the application's exit; log lines when first seen):\n");
    for (const Event& event : events) {
        const long long ms = static_cast<long long>(event.time_ms) - static_cast<long long>(base_ms);
        std::printf("%+8lld  %s\n", ms, event.text.c_str());
    }
    std::printf("%s", facts.c_str());
    return 0;
}
