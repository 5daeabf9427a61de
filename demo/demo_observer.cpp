// demo_observer: watches an update from outside the helper, for scripts/demo.
//   demo_observer APP PACKAGE [--app-args TAIL] [--close-file PATH]
// Starts APP with `"APP" TAIL` in its own directory, as a user would, and then records, without
// touching the helper, until the helper has ended and what it started has settled (at most 90 s):
// - the processes named like APP, the helper (vellomar-update*.exe: the application starts a copy)
//   or PACKAGE (the installer): start, parent, command line, end and exit code, and the helper's
//   image path;
// - when APP's executable can be opened for writing again after APP's exit;
// - DisplayVersion of the uninstall entry in HKCU, the deletion of PACKAGE, new lines of
//   sample-app.log beside APP;
// - boxes captioned "Vellomar更新" (read and answered OK) and installer windows, each announced once
//   it has painted and closed once the close file exists (at once without one).
// Output, UTF-8: "@app-pid N" once APP runs and "@window X Y W H TITLE" for a painted installer
// window; at the end a timeline in ms from APP's exit and the facts the script checks:
//   fact timed_out 0|1, fact helper EXIT, fact helper_image PATH, fact run N EXIT BY COMMAND-LINE,
//   fact relaunch BY, fact box TEXT
// where BY is "helper" when the helper started that process and EXIT is "none" while it runs.
#include "files.h"
#include "probes.h"
#include "program_runs.h"
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
#include <string>
#include <vector>

namespace {

using support::epoch_ms;
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
    std::wstring image;  // the helper's executable file
    bool installer = false;
    HWND window = nullptr;
    bool closed = false;
};

struct Event {
    std::uint64_t time_ms = 0;
    std::string text;
};

std::string utf8(const std::wstring& text) { return support::to_utf8(text); }

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
        !ReadProcessMemory(process, static_cast<BYTE*>(parameters) + offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine),
                           &line, sizeof(line), nullptr)) {
        return {};
    }
    std::wstring text(line.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process, line.Buffer, text.data(), line.Length, nullptr)) return {};
    return text;
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

// The helper's own test of the executable.
bool writable(const std::wstring& path) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.valid();
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

struct Observation {
    std::wstring app, package, close_file, log;
    std::vector<Watched> watched;  // the application first
    std::vector<Event> events;
    std::vector<std::string> boxes;
    std::wstring display_version;
    std::size_t log_offset = 0;
    int installer_runs = 0;
    bool unlocked = false;
    bool package_deleted = false;
};

bool is_helper(const Watched& process) { return process.label.rfind("vellomar-update", 0) == 0; }

// The shipped name or a copy's name: vellomar-update.exe, vellomar-update.handover.exe, ...
bool is_helper_name(const std::wstring& name) {
    return name.size() > 19 && CompareStringOrdinal(name.c_str(), 15, L"vellomar-update", 15, TRUE) == CSTR_EQUAL &&
           lstrcmpiW(name.c_str() + name.size() - 4, L".exe") == 0;
}

std::wstring image_path(HANDLE process) {
    wchar_t path[32768];
    DWORD length = 32768;
    return QueryFullProcessImageNameW(process, 0, path, &length) ? std::wstring(path, length) : std::wstring();
}

// New lines of the application's log; read before anything else in a round, so that a line
// written just before an exit reads before that exit.
void read_log(Observation& seen, std::uint64_t now) {
    const std::string log = support::read_bytes(seen.log);
    for (std::size_t end; (end = log.find('\n', seen.log_offset)) != std::string::npos; seen.log_offset = end + 1) {
        seen.events.push_back({now, "log: " + log.substr(seen.log_offset, end - seen.log_offset)});
    }
}

// Every new process named like the application, the helper or the package; its handle stays
// open, so that its id is never reused while we watch.
void scan_processes(Observation& seen) {
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        const DWORD pid = entry.th32ProcessID;
        const bool installer = lstrcmpiW(entry.szExeFile, name_of(seen.package).c_str()) == 0;
        if (std::any_of(seen.watched.begin(), seen.watched.end(), [&](const Watched& w) { return w.pid == pid; }) ||
            (!installer && !is_helper_name(entry.szExeFile) &&
             lstrcmpiW(entry.szExeFile, name_of(seen.app).c_str()) != 0)) {
            continue;
        }
        seen.watched.push_back(
            watch(installer ? "installer run " + std::to_string(++seen.installer_runs)
                            : utf8(entry.szExeFile) + " (pid " + std::to_string(pid) + ")",
                  pid, entry.th32ParentProcessID,
                  UniqueHandle(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid))));
        seen.watched.back().installer = installer;
        if (is_helper(seen.watched.back())) seen.watched.back().image = image_path(seen.watched.back().process.get());
    }
    for (Watched& process : seen.watched) {
        if (process.ended_ms) continue;
        if (process.command_line.empty()) process.command_line = command_line_of(process.process.get());
        if (WaitForSingleObject(process.process.get(), 0) == WAIT_OBJECT_0) {
            process.ended_ms = process_time_ms(process.process.get(), true);
            (void)GetExitCodeProcess(process.process.get(), &process.exit_code);
        }
    }
}

// The unlock, the stamp and the package's deletion, as the helper brings them about.
void check_files(Observation& seen, std::uint64_t now) {
    // Only until an installer runs: our handle must never make it fail.
    if (seen.watched[0].ended_ms && !seen.unlocked && seen.installer_runs == 0 && writable(seen.app)) {
        seen.unlocked = true;
        seen.events.push_back({now, utf8(name_of(seen.app)) + " can be opened for writing (unlocked)"});
    }
    const std::wstring version = support::read_string(HKEY_CURRENT_USER, L"DisplayVersion");
    if (version != seen.display_version) {
        seen.events.push_back(
            {now, "uninstall entry DisplayVersion " + utf8(seen.display_version) + " -> " + utf8(version)});
        seen.display_version = version;
    }
    if (!seen.package_deleted && !support::file_exists(seen.package)) {
        seen.package_deleted = true;
        seen.events.push_back({now, "package deleted"});
    }
}

// Announces an installer's window once it has had time to paint, for the screenshot, and closes
// it once the caller has taken that.
void check_windows(Observation& seen, std::uint64_t now) {
    for (Watched& process : seen.watched) {
        if (!process.installer || process.ended_ms || process.closed) continue;
        if (process.window == nullptr) {
            process.window = main_window_of(process.pid);
            if (process.window == nullptr) continue;
            const std::string title = utf8(window_title(process.window));
            seen.events.push_back({now, process.label + " shows its window \"" + title + "\""});
            Sleep(700);  // time to paint; the helper has handed over by now
            RECT rect{};
            (void)GetWindowRect(process.window, &rect);
            std::printf("@window %ld %ld %ld %ld %s\n", rect.left, rect.top, rect.right - rect.left,
                        rect.bottom - rect.top, title.c_str());
            std::fflush(stdout);
        }
        if (seen.close_file.empty() || support::file_exists(seen.close_file)) {
            (void)PostMessageW(process.window, WM_CLOSE, 0, 0);
            seen.events.push_back({epoch_ms(), process.label + ": window closed"});
            process.closed = true;
        }
    }
}

// The helper ended 1.5 s ago, and no installer still runs. Either may come later than that, so the
// caller's expectation is waited for too: with a close file an installer window (the helper's
// fallback), which must have been closed; without one the relaunched application, which a loaded
// Wine now and then lists only after the helper has gone.
bool settled(const Observation& seen, std::uint64_t now) {
    const auto& all = seen.watched;
    return std::any_of(all.begin(), all.end(),
                       [&](const Watched& w) { return is_helper(w) && w.ended_ms && now - *w.ended_ms > 1500; }) &&
           std::none_of(all.begin(), all.end(), [](const Watched& w) { return w.installer && !w.ended_ms; }) &&
           (seen.close_file.empty()
                ? std::any_of(all.begin() + 1, all.end(), [](const Watched& w) { return !w.installer && !is_helper(w); })
                : std::any_of(all.begin(), all.end(), [](const Watched& w) { return w.installer && w.closed; }));
}

void report(Observation& seen, bool timed_out) {
    std::string facts = "fact timed_out " + std::to_string(timed_out ? 1 : 0) + "\n";
    for (const Watched& process : seen.watched) {
        std::string parent = "pid " + std::to_string(process.parent);
        for (const Watched& other : seen.watched) {
            if (other.pid == process.parent) parent = other.label;
        }
        const char* by = parent.rfind("vellomar-update", 0) == 0 ? "helper" : "other";
        const std::string exit = process.ended_ms ? std::to_string(static_cast<long>(process.exit_code)) : "none";
        seen.events.push_back(
            {process.started_ms, process.label + " started by " + parent + ": " + utf8(process.command_line)});
        if (process.ended_ms) seen.events.push_back({*process.ended_ms, process.label + " exited, code " + exit});
        if (process.installer) {
            facts += "fact run " + process.label.substr(14) + " " + exit + " " + by + " " + utf8(process.command_line) +
                     "\n";
        } else if (is_helper(process)) {
            facts += "fact helper " + exit + "\nfact helper_image " + utf8(process.image) + "\n";
        } else if (&process != &seen.watched[0]) {
            facts += std::string("fact relaunch ") + by + "\n";
        }
    }
    for (const std::string& box : seen.boxes) facts += "fact box " + box + "\n";
    std::stable_sort(seen.events.begin(), seen.events.end(),
                     [](const Event& a, const Event& b) { return a.time_ms < b.time_ms; });
    const Watched& app = seen.watched[0];
    const std::uint64_t base_ms = app.ended_ms.value_or(app.started_ms);
    std::printf("timeline (ms from the application's exit; log lines when first seen):\n");
    for (const Event& event : seen.events) {
        std::printf("%+8lld  %s\n", static_cast<long long>(event.time_ms) - static_cast<long long>(base_ms),
                    event.text.c_str());
    }
    std::printf("%s", facts.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fputs("usage: demo_observer APP PACKAGE [--app-args TAIL] [--close-file PATH]\n", stderr);
        return 2;
    }
    Observation seen;
    seen.app = argv[1];
    seen.package = argv[2];
    std::wstring command_line = support::in_quotes(seen.app);
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::wstring(argv[i]) == L"--app-args") command_line += L" " + std::wstring(argv[i + 1]);
        if (std::wstring(argv[i]) == L"--close-file") seen.close_file = argv[i + 1];
    }
    const std::wstring app_dir = seen.app.substr(0, seen.app.find_last_of(L'\\'));
    seen.log = app_dir + L"\\sample-app.log";
    seen.log_offset = support::read_bytes(seen.log).size();
    seen.display_version = support::read_string(HKEY_CURRENT_USER, L"DisplayVersion");
    support::BoxWatch boxes(0, support::helper_caption);
    // Plain "\n" line ends: the script reads these lines.
    (void)_setmode(_fileno(stdout), _O_BINARY);

    // Started here, so that its exit time is exact; like a shell, with no handles and in its own directory.
    support::StartedProcess app = support::start_process(seen.app, command_line, 0, app_dir);
    if (!app.process.valid()) {
        std::printf("could not start the application: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("@app-pid %lu\n", app.id);
    std::fflush(stdout);
    seen.watched.push_back(watch("sample-app.exe (v1)", app.id, GetCurrentProcessId(), std::move(app.process)));
    seen.watched[0].command_line = command_line;

    const std::uint64_t deadline_ms = epoch_ms() + 90000;
    bool timed_out = false;
    for (;; Sleep(10)) {
        const std::uint64_t now = epoch_ms();
        read_log(seen, now);
        scan_processes(seen);
        check_files(seen, now);
        for (const support::MessageBoxRecord& box : boxes.take()) {
            seen.boxes.push_back(utf8(box.caption) + ": " + utf8(box.text));
            seen.events.push_back({box.seen_ms, "message box " + seen.boxes.back()});
        }
        check_windows(seen, now);
        timed_out = now > deadline_ms;
        if (settled(seen, now) || timed_out) break;
    }
    for (const support::MessageBoxRecord& box : boxes.stop())
        seen.boxes.push_back(utf8(box.caption) + ": " + utf8(box.text));
    report(seen, timed_out);
    return 0;
}
