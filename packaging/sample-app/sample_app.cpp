// Sample application: the application's side of an update through vellomar-update.exe.
// Copy hand_over_to_helper(), quote_argument() and remove_stale_packages() into a real
// application; the rest only makes the sample observable.
//
//   sample-app.exe --version
//       exits at once with 0 and writes nothing.
//   sample-app.exe
//       logs "started", then "running", and stays alive until a file named "quit" appears
//       beside the executable or 60 s pass.
//   sample-app.exe --update <installer> <new version> [--helper <helper path>]
//       logs "started", starts the helper (default: vellomar-update.exe beside the executable),
//       logs "update <new version> <helper pid>" and exits at once, so that the installer can
//       replace the executable. If the helper cannot be started it logs
//       "update failed <error code>" and exits with 1.
// Every start but --version first deletes the packages of earlier updates from the download
// directory, %TEMP%\Vellomar download (see remove_stale_packages).
//
// The log is sample-app.log beside the executable: UTF-8 lines ending in "\n", appended, e.g.
//   started 1.0.0 4242 C:\Program Files\Vellomar Sample
// (version, process id, current directory).
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef SAMPLE_APP_VERSION
#error "Build with -DSAMPLE_APP_VERSION=\"x.y.z\""
#endif

namespace {

constexpr std::wstring_view app_version = L"" SAMPLE_APP_VERSION;
constexpr DWORD run_limit_ms = 60'000;
constexpr DWORD quit_poll_ms = 100;
// Where the application downloads its installer packages, under the temporary directory, and the
// names it gives them: vellomar-sample-<version>-setup.exe.
constexpr std::wstring_view download_folder = L"Vellomar download";
constexpr std::wstring_view package_prefix = L"vellomar-sample-";
constexpr std::wstring_view package_suffix = L"-setup.exe";

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

// Ends a FindFirstFileW search at the end of its scope.
class ScopedFind {
public:
    explicit ScopedFind(HANDLE find) : find_(find) {}
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;
    ~ScopedFind() {
        if (valid()) {
            (void)FindClose(find_);
        }
    }
    bool valid() const { return find_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return find_; }

private:
    HANDLE find_;
};

// Quotes one argument so that the Microsoft C runtime (and CommandLineToArgvW) splits it back
// to exactly the same text:
// - an argument that is empty or contains a space or tab is enclosed in double quotes;
// - a double quote becomes \" and the backslashes right before it are doubled;
// - backslashes right before the closing quote we add are doubled, so they stay literal;
// - all other backslashes are literal and stay single.
// Examples: `C:\Program Files\App` -> `"C:\Program Files\App"`, `a"b` -> `a\"b`,
// `C:\dir with space\` -> `"C:\dir with space\\"`, `` (empty) -> `""`.
// Not for the program name (argument 0): the runtime reads it without escapes, see below.
std::wstring quote_argument(std::wstring_view argument) {
    const bool enclose = argument.empty() || argument.find_first_of(L" \t") != std::wstring_view::npos;
    std::wstring quoted;
    if (enclose) {
        quoted += L'"';
    }
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted += c;
        backslashes = 0;
    }
    quoted.append(enclose ? backslashes * 2 : backslashes, L'\\');
    if (enclose) {
        quoted += L'"';
    }
    return quoted;
}

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

// GetFullPathNameW returns the size needed (with the NUL) when the buffer is too small, and the
// length without the NUL when it fitted.
std::wstring full_path(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

// GetTempPathW returns the size needed (with the NUL) when the buffer is too small, and the
// length without the NUL when it fitted; the path ends in a backslash.
std::wstring temp_directory() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length);
    }
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

struct HandOver {
    DWORD helper_pid = 0;
    DWORD error = 0;  // set when the helper could not be started
};

// Starts the update helper and returns at once; the caller must then exit promptly, because the
// helper waits for this process to end before it runs the installer over our executable.
//   "<helper>" --pid <our pid> --installer <installer> --launch <our exe> --version <version>
// The program name is always enclosed in plain quotes: the runtime reads argument 0 up to the
// next space outside quotes without treating backslashes as escapes, and a path holds no quote.
// No --install-dir: the helper installs into the directory of --launch.
// How the helper is started matters on Windows:
// - its current directory is the package's directory, never the installation: a directory that
//   is some process's current directory cannot be removed or renamed, and the installer inherits
//   it. So the package is named by its full path, which the helper would otherwise resolve
//   against that directory;
// - no handle inheritance: an inherited handle would keep our files open after we exit;
// - out of our job where the job allows it: a job that kills its processes when it closes (a
//   launcher, a terminal, a test runner) would take the helper with it when we exit;
// - the foreground right goes to the helper at once, while we still own the foreground, so that
//   its error box, a consent prompt and the relaunched application open in front.
[[nodiscard]] HandOver hand_over_to_helper(const std::wstring& helper, const std::wstring& installer,
                                           const std::wstring& own_exe, const std::wstring& new_version) {
    const std::wstring package = full_path(installer);
    if (package.empty()) {
        return HandOver{0, GetLastError()};
    }
    // With its backslash, so that a package at a drive's root gives "C:\", not the drive-relative "C:".
    const std::wstring helper_directory = directory_of(package) + L"\\";
    std::wstring command_line = L"\"" + helper + L"\"";
    command_line += L" --pid " + std::to_wstring(GetCurrentProcessId());
    command_line += L" --installer " + quote_argument(package);
    command_line += L" --launch " + quote_argument(own_exe);
    command_line += L" --version " + quote_argument(new_version);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(helper.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                                  CREATE_BREAKAWAY_FROM_JOB, nullptr, helper_directory.c_str(), &startup, &process);
    DWORD error = started ? 0 : GetLastError();
    if (!started && error == ERROR_ACCESS_DENIED) {
        // Our job forbids breakaway: the helper then runs in it, which is the best we can do.
        started = CreateProcessW(helper.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 helper_directory.c_str(), &startup, &process);
        error = started ? 0 : GetLastError();
    }
    if (!started) {
        return HandOver{0, error};
    }
    // Refused only when we no longer own the foreground; the update goes on either way.
    (void)AllowSetForegroundWindow(process.dwProcessId);
    // We neither wait for the helper nor read its exit code.
    const ScopedHandle process_handle(process.hProcess);
    const ScopedHandle thread_handle(process.hThread);
    return HandOver{process.dwProcessId, 0};
}

// "2.1.0" as {2, 1, 0}; nothing for text that is not dotted decimal numbers.
std::optional<std::vector<unsigned long>> version_numbers(std::wstring_view text) {
    std::vector<unsigned long> numbers;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = std::min(text.find(L'.', start), text.size());
        const std::wstring_view part = text.substr(start, dot - start);
        if (part.empty() || part.size() > 9 || part.find_first_not_of(L"0123456789") != std::wstring_view::npos) {
            return std::nullopt;
        }
        unsigned long number = 0;
        for (const wchar_t digit : part) {
            number = number * 10 + static_cast<unsigned long>(digit - L'0');
        }
        numbers.push_back(number);
        if (dot == text.size()) {
            return numbers;
        }
        start = dot + 1;
    }
}

// "2.1" and "2.1.0" are the same version.
bool not_newer(std::vector<unsigned long> version, std::vector<unsigned long> than) {
    const std::size_t length = std::max(version.size(), than.size());
    version.resize(length);
    than.resize(length);
    return version <= than;
}

// Deletes the packages that earlier updates left in our download directory. The helper deletes a
// package after a successful update, but only as far as it can: a virus scanner may still hold it
// open. A package of the running version or an older one has been installed or superseded; a
// newer one (an update the user cancelled) stays. Only our own package names in our own directory
// are touched, and a package still in use stays for the next start.
void remove_stale_packages() {
    const std::wstring temp = temp_directory();
    const std::optional<std::vector<unsigned long>> running = version_numbers(app_version);
    if (temp.empty() || !running) {
        return;
    }
    const std::wstring directory = temp + std::wstring(download_folder) + L"\\";
    WIN32_FIND_DATAW entry{};
    const ScopedFind find(FindFirstFileW(
        (directory + std::wstring(package_prefix) + L"*" + std::wstring(package_suffix)).c_str(), &entry));
    if (!find.valid()) {
        return;
    }
    do {
        // The pattern also matches short (8.3) names, so the long name is checked again here.
        const std::wstring_view name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
            name.size() <= package_prefix.size() + package_suffix.size() ||
            name.substr(0, package_prefix.size()) != package_prefix ||
            name.substr(name.size() - package_suffix.size()) != package_suffix) {
            continue;
        }
        const std::optional<std::vector<unsigned long>> version = version_numbers(
            name.substr(package_prefix.size(), name.size() - package_prefix.size() - package_suffix.size()));
        if (version && not_newer(*version, *running)) {
            (void)DeleteFileW((directory + std::wstring(name)).c_str());
        }
    } while (FindNextFileW(find.get(), &entry));
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
    remove_stale_packages();

    const int update = find_argument(argc, argv, L"--update");
    if (update == 0) {
        run_until_quit(exe_dir);
        return 0;
    }
    if (update + 2 >= argc) {
        append_log(exe_dir, L"update failed: --update needs <installer> <new version>");
        return 2;
    }
    const int helper_option = find_argument(argc, argv, L"--helper");
    const std::wstring helper = helper_option != 0 && helper_option + 1 < argc
                                    ? std::wstring(argv[helper_option + 1])
                                    : exe_dir + L"\\vellomar-update.exe";
    const std::wstring new_version = argv[update + 2];
    const HandOver result = hand_over_to_helper(helper, argv[update + 1], own_exe, new_version);
    if (result.error != 0) {
        append_log(exe_dir, L"update failed " + std::to_wstring(result.error));
        return 1;
    }
    append_log(exe_dir, L"update " + new_version + L" " + std::to_wstring(result.helper_pid));
    return 0;
}
