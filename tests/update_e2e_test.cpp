// The real helper under Wine, driven the way an application drives it, with copies of the child
// probe standing in for the installer and the application. Each copy reads "<exe>.probe" and logs
// every run (time, raw command line, current directory, argv).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "probe_support.h"

#include <winternl.h>

namespace {

const wchar_t* const entry_path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellomar";

struct ProbeRun {
    std::uint64_t time_ms = 0;
    std::wstring command_line;
    std::wstring current_directory;
    std::vector<std::wstring> argv;
};

std::uint64_t epoch_ms() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks / 10000 - 11644473600000ull;
}

std::wstring helper_path() { return probe::own_directory() + L"vellomar-update.exe"; }

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void write_utf8(const std::wstring& path, const std::wstring& text) {
    std::ofstream out(path.c_str(), std::ios::binary);
    out << probe::to_utf8(text);
}

std::vector<ProbeRun> read_log(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::vector<ProbeRun> runs;
    std::wistringstream lines(probe::from_utf8(bytes.str()));
    for (std::wstring line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        std::vector<std::wstring> fields;
        for (size_t start = 0;;) {
            const size_t tab = line.find(L'\t', start);
            fields.push_back(line.substr(start, tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        if (fields.size() < 6) continue;
        ProbeRun run;
        run.time_ms = std::stoull(fields[1]);
        run.command_line = fields[2];
        run.current_directory = fields[3];
        for (size_t start = 0;;) {
            const size_t separator = fields[5].find(L'\x1F', start);
            run.argv.push_back(fields[5].substr(start, separator - start));
            if (separator == std::wstring::npos) break;
            start = separator + 1;
        }
        runs.push_back(run);
    }
    return runs;
}

// Waits for a detached or shell-started process to have logged `count` runs.
std::vector<ProbeRun> wait_for_runs(const std::wstring& log, size_t count, DWORD limit_ms = 15000) {
    const std::uint64_t deadline = probe::now_ms() + limit_ms;
    std::vector<ProbeRun> runs = read_log(log);
    while (runs.size() < count && probe::now_ms() < deadline) {
        Sleep(50);
        runs = read_log(log);
    }
    return runs;
}

void delete_entry(HKEY hive) { (void)RegDeleteTreeW(hive, entry_path), (void)RegDeleteKeyW(hive, entry_path); }

void create_entry(HKEY hive) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(hive, entry_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    const std::wstring name = L"Vellomar";
    RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>((name.size() + 1) * 2));
    const DWORD old_minor = 7;
    RegSetValueExW(key, L"VersionMinor", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_minor), 4);
    RegCloseKey(key);
}

bool entry_exists(HKEY hive) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, entry_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool present = false;
};

RegistryValue read_value(HKEY hive, const wchar_t* name) {
    RegistryValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, entry_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        value.present = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return value;
}

std::wstring read_string(HKEY hive, const wchar_t* name) {
    const RegistryValue value = read_value(hive, name);
    if (!value.present || value.type != REG_SZ || value.data.size() < 2) return L"<missing>";
    return std::wstring(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / 2 - 1);
}

DWORD read_dword(HKEY hive, const wchar_t* name) {
    const RegistryValue value = read_value(hive, name);
    if (!value.present || value.type != REG_DWORD || value.data.size() != 4) return 0xFFFFFFFF;
    return *reinterpret_cast<const DWORD*>(value.data.data());
}

class Update : public testing::Test {
protected:
    void SetUp() override {
        base_ = probe::make_temp_directory(L"update");
        ASSERT_FALSE(base_.empty());
        package_dir_ = base_ + L"\\pkg dir";
        app_dir_ = base_ + L"\\App Dir";
        work_dir_ = base_ + L"\\work";
        CreateDirectoryW(package_dir_.c_str(), nullptr);
        CreateDirectoryW(app_dir_.c_str(), nullptr);
        CreateDirectoryW(work_dir_.c_str(), nullptr);
        installer_ = package_dir_ + L"\\setup.exe";
        app_ = app_dir_ + L"\\app.exe";
        installer_log_ = base_ + L"\\installer.log";
        app_log_ = base_ + L"\\app.log";
        make_installer(L"0");
        make_probe(app_, app_log_, L"0", 0);
        delete_entry(HKEY_CURRENT_USER);
        delete_entry(HKEY_LOCAL_MACHINE);
    }

    void TearDown() override {
        delete_entry(HKEY_CURRENT_USER);
        delete_entry(HKEY_LOCAL_MACHINE);
    }

    void make_probe(const std::wstring& path, const std::wstring& log, const std::wstring& exit_codes, DWORD sleep_ms) {
        ASSERT_TRUE(CopyFileW((probe::own_directory() + L"child_probe.exe").c_str(), path.c_str(), FALSE));
        write_utf8(path + L".probe", L"log=" + log + L"\nexit_codes=" + exit_codes + L"\nsleep_ms=" +
                                         std::to_wstring(sleep_ms) + L"\n");
    }

    void make_installer(const std::wstring& exit_codes) { make_probe(installer_, installer_log_, exit_codes, 0); }

    probe::RunResult run_helper(const std::wstring& tail) {
        probe::RunOptions options;
        options.current_directory = work_dir_;
        return probe::run_exact(helper_path(), L"\"" + helper_path() + L"\"" + tail, options);
    }

    std::wstring quoted(const std::wstring& path) const { return L"\"" + path + L"\""; }

    std::wstring standard_tail(const std::wstring& version = L"2.3.0") const {
        return L" --pid 0 --installer " + quoted(installer_) + L" --launch " + quoted(app_) + L" --version " + version;
    }

    void expect_clean_success(const probe::RunResult& result) {
        ASSERT_TRUE(result.started);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_code, 0u);
        EXPECT_TRUE(result.boxes.empty());
        EXPECT_EQ(result.standard_error, "");
    }

    std::wstring base_, package_dir_, app_dir_, work_dir_, installer_, app_, installer_log_, app_log_;
};

TEST_F(Update, HappyPathInstallsStampsAndRelaunches) {
    create_entry(HKEY_CURRENT_USER);
    const probe::RunResult result = run_helper(standard_tail());
    expect_clean_success(result);

    const std::vector<ProbeRun> installs = read_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].command_line, quoted(installer_) + L" /S /UPDATE /D=" + app_dir_);
    EXPECT_EQ(installs[0].current_directory, work_dir_);
    EXPECT_FALSE(file_exists(installer_));

    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"2.3.0");
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMajor"), 2u);
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMinor"), 3u);
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayName"), L"Vellomar");
    EXPECT_FALSE(entry_exists(HKEY_LOCAL_MACHINE));

    const std::vector<ProbeRun> launches = wait_for_runs(app_log_, 1);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].command_line, quoted(app_));
    EXPECT_EQ(launches[0].current_directory, app_dir_);
    // A dead or unopenable id costs 2 s, then 800 ms of settling.
    EXPECT_GE(result.elapsed_ms, 2700u);
}

TEST_F(Update, TrailingSeparatorsOfTheDirectoryAreRemoved) {
    expect_clean_success(run_helper(L" --pid 0 --installer " + quoted(installer_) + L" --install-dir C:\\dir\\\\//"));
    const std::vector<ProbeRun> installs = read_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].command_line, quoted(installer_) + L" /S /UPDATE /D=C:\\dir");
}

TEST_F(Update, DriveRootBecomesTheBareDrive) {
    expect_clean_success(run_helper(L" --pid 0 --installer " + quoted(installer_) + L" --install-dir C:\\"));
    const std::vector<ProbeRun> installs = read_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].command_line, quoted(installer_) + L" /S /UPDATE /D=C:");
}

TEST_F(Update, ExplicitDirectoryWinsOverTheLaunchParent) {
    expect_clean_success(run_helper(standard_tail() + L" --install-dir \"D:\\Other Place\""));
    const std::vector<ProbeRun> installs = read_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].command_line, quoted(installer_) + L" /S /UPDATE /D=D:\\Other Place");
    EXPECT_EQ(wait_for_runs(app_log_, 1).size(), 1u);
}

TEST_F(Update, ThreeFailuresReportAndOpenTheInstallerInteractively) {
    make_installer(L"1");
    const probe::RunResult result = run_helper(standard_tail());
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(result.boxes.empty());
    EXPECT_EQ(result.standard_error, "silent install failed: Some(\"\xE5\xAE\x89\xE8\xA3\x85\xE7\xA8\x8B\xE5\xBA\x8F"
                                     "\xE9\x80\x80\xE5\x87\xBA\xE7\xA0\x81 1\")\n");

    const std::vector<ProbeRun> runs = wait_for_runs(installer_log_, 4);
    ASSERT_EQ(runs.size(), 4u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(runs[i].command_line, quoted(installer_) + L" /S /UPDATE /D=" + app_dir_);
    }
    EXPECT_GE(runs[1].time_ms - runs[0].time_ms, 950u);
    EXPECT_GE(runs[2].time_ms - runs[1].time_ms, 950u);
    // The shell gives the interactive run no arguments at all.
    EXPECT_EQ(runs[3].argv.size(), 1u);
    EXPECT_EQ(runs[3].command_line.find(L"/S"), std::wstring::npos);
    EXPECT_TRUE(file_exists(installer_));
    EXPECT_TRUE(read_log(app_log_).empty());
}

// Relative names mean files in the helper's current directory, resolved once: the package checked
// is the one run (never a `pkg.exe` beside it) and deleted, and a bare launch name is relaunched in
// that directory.
TEST_F(Update, RelativeNamesAreFilesInTheCurrentDirectory) {
    const std::wstring package = work_dir_ + L"\\pkg";
    const std::wstring decoy_log = base_ + L"\\decoy.log";
    const std::wstring app = work_dir_ + L"\\app.exe";
    make_probe(package, installer_log_, L"0", 0);
    make_probe(package + L".exe", decoy_log, L"0", 0);
    make_probe(app, app_log_, L"0", 0);
    expect_clean_success(run_helper(L" --pid 0 --installer pkg --launch app.exe --install-dir " + quoted(app_dir_)));

    const std::vector<ProbeRun> installs = read_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].command_line, quoted(package) + L" /S /UPDATE /D=" + app_dir_);
    EXPECT_TRUE(read_log(decoy_log).empty());
    EXPECT_FALSE(file_exists(package));
    EXPECT_TRUE(file_exists(package + L".exe"));
    const std::vector<ProbeRun> launches = wait_for_runs(app_log_, 1);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].command_line, quoted(app));
    EXPECT_EQ(launches[0].current_directory, work_dir_);
}

// cmd.exe would run what follows `&` in the directory as a command of its own and report its result.
TEST_F(Update, BatchInstallerIsNotRunWithADirectoryCmdWouldSplit) {
    const std::wstring script = package_dir_ + L"\\setup.cmd";
    write_utf8(script, L"@exit /b 0\r\n");
    const std::wstring marker = base_ + L"\\marker.txt";
    const probe::RunResult result =
        run_helper(L" --pid 0 --installer " + quoted(script) + L" --install-dir \"" + base_ + L"\\R&echo x>" + marker + L"\"");
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(result.boxes.empty());
    EXPECT_EQ(result.standard_error, probe::to_utf8(L"silent install failed: Some(\"\u542F\u52A8\u5B89\u88C5\u7A0B\u5E8F"
                                                    L"\u5931\u8D25: batch file arguments are invalid\")\n"));
    Sleep(500);
    EXPECT_FALSE(file_exists(marker));
    EXPECT_TRUE(file_exists(script));
}

TEST_F(Update, CrashCodeIsReportedAsSignedDecimal) {
    make_installer(L"0xC0000005");
    const probe::RunResult result = run_helper(L" --pid 0 --installer " + quoted(installer_) + L" --install-dir C:\\x");
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_NE(result.standard_error.find(" -1073741819\")\n"), std::string::npos) << result.standard_error;
}

TEST_F(Update, SuccessOnTheSecondAttemptFinishesNormally) {
    create_entry(HKEY_CURRENT_USER);
    make_installer(L"5,0");
    expect_clean_success(run_helper(standard_tail()));
    EXPECT_EQ(read_log(installer_log_).size(), 2u);
    EXPECT_FALSE(file_exists(installer_));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"2.3.0");
    EXPECT_EQ(wait_for_runs(app_log_, 1).size(), 1u);
    Sleep(500);
    EXPECT_EQ(read_log(installer_log_).size(), 2u);
}

TEST_F(Update, EmptyDirectoryFailsWithoutStartingTheInstaller) {
    const probe::RunResult result = run_helper(L" --pid 0 --installer " + quoted(installer_) + L" --install-dir \\");
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(result.boxes.empty());
    EXPECT_EQ(result.standard_error,
              "silent install failed: Some(\"\xE5\xAE\x89\xE8\xA3\x85\xE7\x9B\xAE\xE5\xBD\x95\xE6\x97\xA0\xE6\x95\x88\")\n");
    // Two 1 s pauses between the attempts on top of the 2.8 s before them.
    EXPECT_GE(result.elapsed_ms, 4700u);
    const std::vector<ProbeRun> runs = wait_for_runs(installer_log_, 1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].argv.size(), 1u);
}

TEST_F(Update, WithoutAnyDirectoryTheInstallerIsOpenedInteractivelyAtOnce) {
    const probe::RunResult result = run_helper(L" --pid 0 --installer " + quoted(installer_) + L" --version 9.9");
    expect_clean_success(result);
    const std::vector<ProbeRun> runs = wait_for_runs(installer_log_, 1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].argv.size(), 1u);
    EXPECT_TRUE(file_exists(installer_));
    EXPECT_FALSE(entry_exists(HKEY_CURRENT_USER));
}

TEST_F(Update, MissingPackageIsReported) {
    DeleteFileW(installer_.c_str());
    const probe::RunResult result = run_helper(standard_tail());
    EXPECT_EQ(result.exit_code, 1u);
    ASSERT_EQ(result.boxes.size(), 1u);
    EXPECT_EQ(result.boxes[0].text, L"安装包不存在: " + installer_);
}

TEST_F(Update, PackageThatIsADirectoryIsReported) {
    const std::wstring directory = package_dir_ + L"\\folder.exe";
    CreateDirectoryW(directory.c_str(), nullptr);
    const probe::RunResult result = run_helper(L" --pid 0 --installer " + quoted(directory) + L" --install-dir C:\\x");
    EXPECT_EQ(result.exit_code, 1u);
    ASSERT_EQ(result.boxes.size(), 1u);
    EXPECT_EQ(result.boxes[0].text, L"安装包不存在: " + directory);
}

TEST_F(Update, MissingApplicationAfterInstallIsReportedAfterTheStamp) {
    create_entry(HKEY_CURRENT_USER);
    DeleteFileW(app_.c_str());
    const probe::RunResult result = run_helper(standard_tail());
    EXPECT_EQ(result.exit_code, 1u);
    ASSERT_EQ(result.boxes.size(), 1u);
    EXPECT_EQ(result.boxes[0].text, L"未找到程序: " + app_);
    EXPECT_FALSE(file_exists(installer_));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"2.3.0");
}

TEST_F(Update, RunningApplicationIsWaitedFor) {
    const std::wstring running = app_dir_ + L"\\running.exe";
    make_probe(running, base_ + L"\\running.log", L"0", 3000);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring command_line = quoted(running);
    ASSERT_TRUE(CreateProcessW(running.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    const std::uint64_t started = epoch_ms();
    const probe::RunResult result =
        run_helper(L" --pid " + std::to_wstring(process.dwProcessId) + L" --installer " + quoted(installer_) +
                   L" --launch " + quoted(running));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(result.exit_code, 0u);
    const std::vector<ProbeRun> installs = read_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    // The application lives 3 s; the installer follows its exit by the 800 ms settling pause.
    EXPECT_GE(installs[0].time_ms, started + 3000 + 700);
}

TEST_F(Update, LockedExecutableIsWaitedForUntilReleased) {
    // Another process holds the application's file for 3 s; the id itself cannot be opened.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const std::wstring locker = probe::own_directory() + L"lock_probe.exe";
    std::wstring command_line = quoted(locker) + L" " + quoted(app_) + L" 3000";
    ASSERT_TRUE(CreateProcessW(locker.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    Sleep(300);
    const std::uint64_t locked = epoch_ms();
    const probe::RunResult result = run_helper(standard_tail());
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(result.exit_code, 0u);
    const std::vector<ProbeRun> installs = read_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_GE(installs[0].time_ms, locked + 2700 + 700);
    EXPECT_LT(result.elapsed_ms, 12000u);
}

TEST_F(Update, ReadOnlyPackageIsDeleted) {
    SetFileAttributesW(installer_.c_str(), FILE_ATTRIBUTE_READONLY);
    expect_clean_success(run_helper(standard_tail()));
    EXPECT_FALSE(file_exists(installer_));
}

TEST_F(Update, WhitespaceVersionWritesNothingButStillRelaunches) {
    create_entry(HKEY_CURRENT_USER);
    expect_clean_success(run_helper(standard_tail(L"\" \t \"")));
    EXPECT_EQ(read_value(HKEY_CURRENT_USER, L"DisplayVersion").present, false);
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMinor"), 7u);
    EXPECT_EQ(wait_for_runs(app_log_, 1).size(), 1u);
}

TEST_F(Update, WithoutLaunchNothingIsStarted) {
    create_entry(HKEY_CURRENT_USER);
    expect_clean_success(run_helper(L" --pid 0 --installer " + quoted(installer_) + L" --install-dir C:\\x --version 3"));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"3");
    Sleep(500);
    EXPECT_TRUE(read_log(app_log_).empty());
}

// Rewrites `placeholder` in a suspended process's command line before it first reads it.
bool patch_command_line(HANDLE process, const std::wstring& placeholder, const std::wstring& replacement) {
    PROCESS_BASIC_INFORMATION basic{};
    ULONG length = 0;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic), &length) != 0) return false;
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof(peb), &read) ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof(parameters), &read)) {
        return false;
    }
    std::wstring command_line(parameters.CommandLine.Length / 2, L'\0');
    if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, command_line.data(), parameters.CommandLine.Length,
                           &read)) {
        return false;
    }
    const size_t at = command_line.find(placeholder);
    if (at == std::wstring::npos || replacement.size() != placeholder.size()) return false;
    SIZE_T written = 0;
    return WriteProcessMemory(process, parameters.CommandLine.Buffer + at, replacement.data(),
                              replacement.size() * sizeof(wchar_t), &written) != 0;
}

// The application's id may be reused once it has exited. A process created after the helper cannot be
// the application that started it, so the helper must not wait for it. The helper is created
// suspended so that the unrelated process can be started after it and its id put on the command line.
TEST_F(Update, ProcessCreatedAfterTheHelperIsNotWaitedFor) {
    const std::wstring placeholder = L"0000000000";
    std::wstring command_line = quoted(helper_path()) + L" --pid " + placeholder + L" --installer " +
                                quoted(installer_) + L" --install-dir C:\\x";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION helper{};
    ASSERT_TRUE(CreateProcessW(helper_path().c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, work_dir_.c_str(), &startup, &helper));
    Sleep(100);  // creation times must differ visibly

    const std::wstring unrelated = app_dir_ + L"\\unrelated.exe";
    make_probe(unrelated, base_ + L"\\unrelated.log", L"0", 30000);
    PROCESS_INFORMATION other{};
    std::wstring other_line = quoted(unrelated);
    ASSERT_TRUE(CreateProcessW(unrelated.c_str(), other_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &other));
    wchar_t digits[16];
    swprintf(digits, 16, L"%010lu", static_cast<unsigned long>(other.dwProcessId));
    const bool patched = patch_command_line(helper.hProcess, placeholder, digits);
    if (!patched) TerminateProcess(helper.hProcess, 1);
    ResumeThread(helper.hThread);
    const std::uint64_t start = probe::now_ms();
    const DWORD waited = WaitForSingleObject(helper.hProcess, 25000);
    const std::uint64_t elapsed = probe::now_ms() - start;
    DWORD exit_code = 0;
    GetExitCodeProcess(helper.hProcess, &exit_code);
    TerminateProcess(other.hProcess, 0);
    for (HANDLE handle : {helper.hThread, helper.hProcess, other.hThread, other.hProcess}) CloseHandle(handle);

    ASSERT_TRUE(patched);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the helper waited for a process younger than itself";
    EXPECT_EQ(exit_code, 0u);
    EXPECT_LT(elapsed, 15000u);
    EXPECT_GE(elapsed, 2700u);  // treated like an id that cannot be opened: the 2 s pause
    EXPECT_EQ(read_log(installer_log_).size(), 1u);
}

struct VersionCase {
    const char* name;
    const wchar_t* argument;
    const wchar_t* display;
    DWORD major;
    DWORD minor;
};

class VersionStamp : public Update, public testing::WithParamInterface<VersionCase> {};

TEST_P(VersionStamp, StoresTrimmedTextAndNumbers) {
    create_entry(HKEY_CURRENT_USER);
    // An existing DisplayVersion of another type is replaced by a string.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, entry_path, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const DWORD old = 1;
    RegSetValueExW(key, L"DisplayVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), 4);
    RegCloseKey(key);

    expect_clean_success(
        run_helper(L" --pid 0 --installer " + quoted(installer_) + L" --install-dir C:\\x --version " + GetParam().argument));
    EXPECT_EQ(read_value(HKEY_CURRENT_USER, L"DisplayVersion").type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), GetParam().display);
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMajor"), GetParam().major);
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMinor"), GetParam().minor);
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayName"), L"Vellomar");
}

INSTANTIATE_TEST_SUITE_P(RealHelper, VersionStamp,
                         testing::Values(VersionCase{"SpacesAround", L"\" 2.5 \"", L"2.5", 2, 5},
                                         VersionCase{"MajorOnly", L"2", L"2", 2, 0},
                                         VersionCase{"LeadingLetter", L"v1.2", L"v1.2", 0, 1},
                                         VersionCase{"MajorTooLarge", L"4294967296.1", L"4294967296.1", 0, 1},
                                         VersionCase{"IdeographicSpaces", L"\"\x3000" L"10.20-beta\x3000\"",
                                                     L"10.20-beta", 10, 20}),
                         [](const testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST_F(Update, BothHivesAreStampedWhereTheEntryExists) {
    create_entry(HKEY_CURRENT_USER);
    create_entry(HKEY_LOCAL_MACHINE);
    expect_clean_success(run_helper(standard_tail(L"4.1")));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"4.1");
    EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, L"DisplayVersion"), L"4.1");
    EXPECT_EQ(read_dword(HKEY_LOCAL_MACHINE, L"VersionMinor"), 1u);
}

}  // namespace
