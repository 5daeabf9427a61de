// Sample application: the application's side of an update through vellomar-update.exe, with the
// handover library (vellomar/handover.h). Copy start_update() and outcome_line() into a real
// application; the rest only makes the sample observable.
//
//   sample-app.exe --version
//       exits at once with 0 and writes nothing.
//   sample-app.exe
//       logs "started", the outcome of an earlier update if there was one, then "running", and
//       stays alive until a file named "quit" appears beside the executable or 60 s pass.
//   sample-app.exe --update <installer> <new version>
//       logs "started" and the outcome line, hands the installer (a full path) over to the helper
//       installed beside the executable, logs "update <new version> <helper pid>" and exits at
//       once, so that the installer can replace the executable. If the helper cannot be started it
//       logs "update failed <error code>" and exits with 1.
// The outcome line, at every start but --version: "updated <version>" when this run is the version
// an earlier run handed over, "not applied" when that update did not happen and its package is
// still there; nothing otherwise. While the helper of an earlier run still waits or installs, the
// sample logs "update in progress" instead and exits at once with 0, whatever the command line.
//
// The log is sample-app.log beside the executable: UTF-8 lines ending in "\n", appended, e.g.
//   started 1.0.0 4242 C:\Program Files\Vellomar Sample
// (version, process id, current directory).
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <string_view>
#include <vector>

#include "vellomar/handover.h"

#ifndef SAMPLE_APP_VERSION
#error "Build with -DSAMPLE_APP_VERSION=\"x.y.z\""
#endif

namespace {

constexpr const wchar_t* app_version = L"" SAMPLE_APP_VERSION;
constexpr DWORD run_limit_ms = 60'000;
constexpr DWORD quit_poll_ms = 100;
// The application's own folder under %LOCALAPPDATA% (local, per user, outside the installation,
// and not emptied by disk clean-up as %TEMP% is): the record of an update it handed over and the
// helper's copy. The packages may be downloaded anywhere.
constexpr std::wstring_view state_folder = L"Vellomar Sample";

// Closes a kernel handle at the end of its scope.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() {
        if (valid()) {
            (void)CloseHandle(handle_);
        }
    }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// Full path of this executable. GetModuleFileNameW returns the buffer size when the path was
// cut short, and the length without the NUL when it fitted.
std::wstring executable_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

// GetCurrentDirectoryW returns the size needed (with the NUL) when the buffer is too small,
// and the length without the NUL when it fitted.
std::wstring current_directory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

// %LOCALAPPDATA%, without a trailing backslash; empty when the shell cannot say.
std::wstring local_app_data() {
    wchar_t* path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path))) {
        result = path;
    }
    CoTaskMemFree(path);
    return result;
}

std::wstring directory_of(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

// Appends one line to sample-app.log, opening and closing the file each time so that the log
// never keeps anything in the installation directory busy.
void append_log(const std::wstring& exe_dir, const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0) {
        return;
    }
    std::string utf8(static_cast<std::size_t>(size), '\0');
    (void)WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr,
                              nullptr);
    const ScopedHandle log(CreateFileW((exe_dir + L"\\sample-app.log").c_str(), FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log.valid()) {
        return;
    }
    DWORD written = 0;
    (void)WriteFile(log.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// Hands the downloaded package over to the helper installed beside this executable; on success
// the caller must exit at once, because the helper waits for this process to end before it runs
// the installer over our files. The library starts a copy of the helper outside the
// installation, so that the installer can replace the installed one too. Without install_dir
// the helper installs into the directory of `launch`.
[[nodiscard]] unsigned long start_update(const std::wstring& own_exe, const std::wstring& package,
                                         const std::wstring& new_version, const std::wstring& state_dir,
                                         unsigned long* helper_pid) {
    const std::wstring helper = directory_of(own_exe) + L"\\vellomar-update.exe";
    VellomarUpdateRequest request{};
    request.helper = helper.c_str();
    request.package = package.c_str();
    request.launch = own_exe.c_str();
    request.version = new_version.c_str();
    request.state_dir = state_dir.c_str();
    return vellomar_start_update(&request, helper_pid);
}

// At every start: what became of the update an earlier run handed over. After UPDATED the library
// has deleted the package and the helper's copy; after NOT_APPLIED the package is still there, for
// a retry or for the user to run interactively (a real application offers that here). IN_PROGRESS:
// the user opened the old version while the update runs; a real application says that it is being
// updated and will start by itself, and exits.
VellomarOutcome update_outcome(const std::wstring& state_dir) {
    VellomarOutcome outcome = VELLOMAR_OUTCOME_NONE;
    (void)vellomar_update_outcome(state_dir.c_str(), app_version, &outcome);
    return outcome;
}

std::wstring outcome_line(VellomarOutcome outcome) {
    switch (outcome) {
    case VELLOMAR_OUTCOME_UPDATED:
        return L"updated " + std::wstring(app_version);
    case VELLOMAR_OUTCOME_NOT_APPLIED:
        return L"not applied";
    case VELLOMAR_OUTCOME_IN_PROGRESS:
        return L"update in progress";
    case VELLOMAR_OUTCOME_NONE:
        break;
    }
    return {};
}

bool file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Stands in for the application's real work: lets tests see it running, then stops on request.
void run_until_quit(const std::wstring& exe_dir) {
    append_log(exe_dir, L"running");
    const std::wstring quit_file = exe_dir + L"\\quit";
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < run_limit_ms && !file_exists(quit_file)) {
        Sleep(quit_poll_ms);
    }
}

// Index of `name` in argv, or 0 when absent (argument 0 is the program).
int find_argument(int argc, wchar_t* argv[], std::wstring_view name) {
    for (int i = 1; i < argc; ++i) {
        if (name == argv[i]) {
            return i;
        }
    }
    return 0;
}

}  // namespace

// MinGW's headers do not declare the wide entry point.
int wmain(int argc, wchar_t* argv[]);

int wmain(int argc, wchar_t* argv[]) {
    if (find_argument(argc, argv, L"--version") != 0) {
        return 0;
    }
    const std::wstring own_exe = executable_path();
    const std::wstring exe_dir = directory_of(own_exe);
    append_log(exe_dir, L"started " + std::wstring(app_version) + L" " + std::to_wstring(GetCurrentProcessId()) +
                            L" " + current_directory());
    // Created at every start: the record must have a directory to go to, and it may have gone.
    const std::wstring state_dir = local_app_data() + L"\\" + std::wstring(state_folder);
    (void)CreateDirectoryW(state_dir.c_str(), nullptr);
    const VellomarOutcome outcome = update_outcome(state_dir);
    if (const std::wstring line = outcome_line(outcome); !line.empty()) {
        append_log(exe_dir, line);
    }
    if (outcome == VELLOMAR_OUTCOME_IN_PROGRESS) {
        return 0;
    }

    const int update = find_argument(argc, argv, L"--update");
    if (update == 0) {
        run_until_quit(exe_dir);
        return 0;
    }
    if (update + 2 >= argc) {
        append_log(exe_dir, L"update failed: --update needs <installer> <new version>");
        return 2;
    }
    const std::wstring new_version = argv[update + 2];
    unsigned long helper_pid = 0;
    const unsigned long error = start_update(own_exe, argv[update + 1], new_version, state_dir, &helper_pid);
    if (error != 0) {
        append_log(exe_dir, L"update failed " + std::to_wstring(error));
        return 1;
    }
    append_log(exe_dir, L"update " + new_version + L" " + std::to_wstring(helper_pid));
    return 0;
}
