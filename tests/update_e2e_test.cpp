// The real helper under Wine, driven the way an application drives it, with copies of the child
// probe standing in for the installer and the application. Each copy reads "<exe>.probe" and logs
// every run (time, raw command line, current directory, argv).
#include <gtest/gtest.h>

#include "files.h"
#include "probe_support.h"
#include "processes.h"
#include "scratch_entry_test.h"

#include <winternl.h>

namespace {

using probe::ProbeRecord;
using probe::in_quotes;
using probe::read_dword;
using probe::read_probe_log;
using probe::read_string;

// A detached or shell-started process logs after the helper has ended.
std::vector<ProbeRecord> wait_for_runs(const std::wstring& log, size_t count) {
    std::vector<ProbeRecord> runs;
    (void)probe::poll_until([&] { return (runs = read_probe_log(log)).size() >= count; }, 15000);
    return runs;
}

// The entry as the installer leaves it, with a name and an old minor version the stamp replaces.
[[nodiscard]] bool create_entry(probe::ScratchEntry& entry) {
    return entry.create() && entry.set_string(L"DisplayName", L"Vellomar") && entry.set_dword(L"VersionMinor", 7);
}

class Update : public probe::ScratchEntryTest {
protected:
    void SetUp() override {
        ScratchEntryTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_FALSE(base_.path().empty());
        ASSERT_TRUE(application_.process.valid());
        for (const std::wstring& directory : {package_dir_, app_dir_, work_dir_}) {
            ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
        }
        make_installer(L"0");
        make_probe(app_, app_log_, L"0", 0);
    }

    void make_probe(const std::wstring& path, const std::wstring& log, const std::wstring& exit_codes, DWORD sleep_ms) {
        ASSERT_TRUE(probe::place_probe(path, log, exit_codes, sleep_ms));
    }

    void make_installer(const std::wstring& exit_codes) { make_probe(installer_, installer_log_, exit_codes, 0); }

    probe::RunResult run_helper(const std::wstring& tail) {
        probe::RunOptions options;
        options.current_directory = work_dir_;
        return probe::run_helper(tail, options);
    }

    // The application has exited already, so the helper goes on without waiting.
    std::wstring installer_tail(const std::wstring& rest) const {
        return L" --pid " + std::to_wstring(application_.id) + L" --installer " + in_quotes(installer_) + rest;
    }

    std::wstring standard_tail(const std::wstring& version = L"2.3.0") const {
        return installer_tail(L" --launch " + in_quotes(app_) + L" --version " + version);
    }

    // The installer ran once, silently, for `directory`.
    void expect_one_silent_run(const std::wstring& directory) {
        const std::vector<ProbeRecord> installs = read_probe_log(installer_log_);
        ASSERT_EQ(installs.size(), 1u);
        EXPECT_EQ(installs[0].command_line, in_quotes(installer_) + L" /S /UPDATE /D=" + directory);
    }

    void expect_clean_success(const probe::RunResult& result) {
        ASSERT_TRUE(result.started);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_code, 0u);
        EXPECT_TRUE(result.boxes.empty());
        EXPECT_EQ(result.standard_error, "");
    }

    const probe::ScratchDirectory base_{L"update"};
    const std::wstring package_dir_ = base_ / L"pkg dir", app_dir_ = base_ / L"App Dir", work_dir_ = base_ / L"work";
    const std::wstring installer_ = package_dir_ + L"\\setup.exe", app_ = app_dir_ + L"\\app.exe";
    const std::wstring installer_log_ = base_ / L"installer.log", app_log_ = base_ / L"app.log";
    const probe::ExitedProcess application_ = probe::exited_process();
};

// The one run with an id that cannot be opened: the helper pauses 2 s for it.
TEST_F(Update, HappyPathInstallsStampsAndRelaunches) {
    ASSERT_TRUE(create_entry(user_entry_));
    const probe::RunResult result = run_helper(L" --pid 0 --installer " + in_quotes(installer_) + L" --launch " +
                                               in_quotes(app_) + L" --version 2.3.0");
    expect_clean_success(result);

    const std::vector<ProbeRecord> installs = read_probe_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].command_line, in_quotes(installer_) + L" /S /UPDATE /D=" + app_dir_);
    EXPECT_EQ(installs[0].directory, work_dir_);
    EXPECT_FALSE(probe::file_exists(installer_));

    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"2.3.0");
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMajor"), 2u);
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMinor"), 3u);
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayName"), L"Vellomar");
    EXPECT_FALSE(probe::entry_exists(HKEY_LOCAL_MACHINE));

    const std::vector<ProbeRecord> launches = wait_for_runs(app_log_, 1);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].command_line, in_quotes(app_));
    EXPECT_EQ(launches[0].directory, app_dir_);
    // 2 s for the id, then 800 ms of settling.
    EXPECT_GE(result.elapsed_ms, 2700u);
}

TEST_F(Update, TrailingSeparatorsOfTheDirectoryAreRemoved) {
    expect_clean_success(run_helper(installer_tail(L" --install-dir C:\\dir\\\\//")));
    expect_one_silent_run(L"C:\\dir");
}

TEST_F(Update, DriveRootBecomesTheBareDrive) {
    expect_clean_success(run_helper(installer_tail(L" --install-dir C:\\")));
    expect_one_silent_run(L"C:");
}

TEST_F(Update, ExplicitDirectoryWinsOverTheLaunchParent) {
    expect_clean_success(run_helper(standard_tail() + L" --install-dir \"D:\\Other Place\""));
    expect_one_silent_run(L"D:\\Other Place");
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

    const std::vector<ProbeRecord> runs = wait_for_runs(installer_log_, 4);
    ASSERT_EQ(runs.size(), 4u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(runs[i].command_line, in_quotes(installer_) + L" /S /UPDATE /D=" + app_dir_);
    }
    EXPECT_GE(runs[1].time_ms - runs[0].time_ms, 950u);
    EXPECT_GE(runs[2].time_ms - runs[1].time_ms, 950u);
    // The shell gives the interactive run no arguments at all.
    EXPECT_EQ(runs[3].argv.size(), 1u);
    EXPECT_EQ(runs[3].command_line.find(L"/S"), std::wstring::npos);
    EXPECT_TRUE(probe::file_exists(installer_));
    EXPECT_TRUE(read_probe_log(app_log_).empty());
}

// Relative names mean files in the helper's current directory, resolved once: the package checked
// is the one run (never a `pkg.exe` beside it) and deleted, and a bare launch name is relaunched in
// that directory.
TEST_F(Update, RelativeNamesAreFilesInTheCurrentDirectory) {
    const std::wstring package = work_dir_ + L"\\pkg", app = work_dir_ + L"\\app.exe";
    const std::wstring decoy_log = base_ / L"decoy.log";
    make_probe(package, installer_log_, L"0", 0);
    make_probe(package + L".exe", decoy_log, L"0", 0);
    make_probe(app, app_log_, L"0", 0);
    expect_clean_success(run_helper(L" --pid " + std::to_wstring(application_.id) +
                                    L" --installer pkg --launch app.exe --install-dir " + in_quotes(app_dir_)));

    const std::vector<ProbeRecord> installs = read_probe_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].command_line, in_quotes(package) + L" /S /UPDATE /D=" + app_dir_);
    EXPECT_TRUE(read_probe_log(decoy_log).empty());
    EXPECT_FALSE(probe::file_exists(package));
    EXPECT_TRUE(probe::file_exists(package + L".exe"));
    const std::vector<ProbeRecord> launches = wait_for_runs(app_log_, 1);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].command_line, in_quotes(app));
    EXPECT_EQ(launches[0].directory, work_dir_);
}

// cmd.exe would run what follows `&` in the directory as a command of its own and report its result.
TEST_F(Update, BatchInstallerIsNotRunWithADirectoryCmdWouldSplit) {
    const std::wstring script = package_dir_ + L"\\setup.cmd", marker = base_ / L"marker.txt";
    ASSERT_TRUE(probe::write_utf8(script, L"@exit /b 0\r\n"));
    const probe::RunResult result = run_helper(L" --pid " + std::to_wstring(application_.id) + L" --installer " +
                                               in_quotes(script) + L" --install-dir \"" + (base_ / L"R&echo x>") +
                                               marker + L"\"");
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(result.boxes.empty());
    EXPECT_EQ(result.standard_error, probe::to_utf8(L"silent install failed: Some(\"\u542F\u52A8\u5B89\u88C5\u7A0B\u5E8F"
                                                    L"\u5931\u8D25: batch file arguments are invalid\")\n"));
    Sleep(500);
    EXPECT_FALSE(probe::file_exists(marker));
    EXPECT_TRUE(probe::file_exists(script));
}

TEST_F(Update, CrashCodeIsReportedAsSignedDecimal) {
    make_installer(L"0xC0000005");
    const probe::RunResult result = run_helper(installer_tail(L" --install-dir C:\\x"));
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_NE(result.standard_error.find(" -1073741819\")\n"), std::string::npos) << result.standard_error;
}

TEST_F(Update, SuccessOnTheSecondAttemptFinishesNormally) {
    ASSERT_TRUE(create_entry(user_entry_));
    make_installer(L"5,0");
    expect_clean_success(run_helper(standard_tail()));
    EXPECT_EQ(read_probe_log(installer_log_).size(), 2u);
    EXPECT_FALSE(probe::file_exists(installer_));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"2.3.0");
    EXPECT_EQ(wait_for_runs(app_log_, 1).size(), 1u);
    Sleep(500);
    EXPECT_EQ(read_probe_log(installer_log_).size(), 2u);
}

TEST_F(Update, EmptyDirectoryFailsWithoutStartingTheInstaller) {
    const probe::RunResult result = run_helper(installer_tail(L" --install-dir \\"));
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(result.boxes.empty());
    EXPECT_EQ(result.standard_error,
              "silent install failed: Some(\"\xE5\xAE\x89\xE8\xA3\x85\xE7\x9B\xAE\xE5\xBD\x95\xE6\x97\xA0\xE6\x95\x88\")\n");
    // The 800 ms settling pause, then two 1 s pauses between the attempts.
    EXPECT_GE(result.elapsed_ms, 2700u);
    const std::vector<ProbeRecord> runs = wait_for_runs(installer_log_, 1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].argv.size(), 1u);
}

TEST_F(Update, WithoutAnyDirectoryTheInstallerIsOpenedInteractivelyAtOnce) {
    const probe::RunResult result = run_helper(installer_tail(L" --version 9.9"));
    expect_clean_success(result);
    const std::vector<ProbeRecord> runs = wait_for_runs(installer_log_, 1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].argv.size(), 1u);
    EXPECT_TRUE(probe::file_exists(installer_));
    EXPECT_FALSE(probe::entry_exists(HKEY_CURRENT_USER));
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
    const probe::RunResult result =
        run_helper(L" --pid " + std::to_wstring(application_.id) + L" --installer " + in_quotes(directory) +
                   L" --install-dir C:\\x");
    EXPECT_EQ(result.exit_code, 1u);
    ASSERT_EQ(result.boxes.size(), 1u);
    EXPECT_EQ(result.boxes[0].text, L"安装包不存在: " + directory);
}

TEST_F(Update, MissingApplicationAfterInstallIsReportedAfterTheStamp) {
    ASSERT_TRUE(create_entry(user_entry_));
    DeleteFileW(app_.c_str());
    const probe::RunResult result = run_helper(standard_tail());
    EXPECT_EQ(result.exit_code, 1u);
    ASSERT_EQ(result.boxes.size(), 1u);
    EXPECT_EQ(result.boxes[0].text, L"未找到程序: " + app_);
    EXPECT_FALSE(probe::file_exists(installer_));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"2.3.0");
}

TEST_F(Update, RunningApplicationIsWaitedFor) {
    const std::wstring running = app_dir_ + L"\\running.exe";
    make_probe(running, base_ / L"running.log", L"0", 3000);
    const probe::StartedProcess application = probe::start_process(running, in_quotes(running));
    ASSERT_TRUE(application.process.valid());
    const std::uint64_t started = probe::epoch_ms();
    const probe::RunResult result = run_helper(L" --pid " + std::to_wstring(application.id) + L" --installer " +
                                               in_quotes(installer_) + L" --launch " + in_quotes(running));
    EXPECT_EQ(result.exit_code, 0u);
    const std::vector<ProbeRecord> installs = read_probe_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    // The application lives 3 s; the installer follows its exit by the 800 ms settling pause.
    EXPECT_GE(installs[0].time_ms, started + 3000 + 700);
}

TEST_F(Update, LockedExecutableIsWaitedForUntilReleased) {
    // Another process holds the application's file for 3 s after the application has exited.
    const probe::FileLock lock(app_, 3000);
    ASSERT_TRUE(lock.wait_until_taken());
    const probe::RunResult result = run_helper(standard_tail());
    EXPECT_EQ(result.exit_code, 0u);
    const std::vector<ProbeRecord> installs = read_probe_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    // The lock was taken after its holder started; the installer follows its release by 800 ms.
    EXPECT_GE(installs[0].time_ms, lock.started_ms() + 3000 + 700);
    EXPECT_LT(result.elapsed_ms, 12000u);
}

TEST_F(Update, ReadOnlyPackageIsDeleted) {
    SetFileAttributesW(installer_.c_str(), FILE_ATTRIBUTE_READONLY);
    expect_clean_success(run_helper(standard_tail()));
    EXPECT_FALSE(probe::file_exists(installer_));
}

TEST_F(Update, WhitespaceVersionWritesNothingButStillRelaunches) {
    ASSERT_TRUE(create_entry(user_entry_));
    expect_clean_success(run_helper(standard_tail(L"\" \t \"")));
    EXPECT_FALSE(probe::read_value(HKEY_CURRENT_USER, L"DisplayVersion").has_value());
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMinor"), 7u);
    EXPECT_EQ(wait_for_runs(app_log_, 1).size(), 1u);
}

TEST_F(Update, WithoutLaunchNothingIsStarted) {
    ASSERT_TRUE(create_entry(user_entry_));
    expect_clean_success(run_helper(installer_tail(L" --install-dir C:\\x --version 3")));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"3");
    Sleep(500);
    EXPECT_TRUE(read_probe_log(app_log_).empty());
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
    const probe::StartedProcess helper = probe::start_process(
        probe::helper_path(),
        in_quotes(probe::helper_path()) + L" --pid " + placeholder + L" --installer " + in_quotes(installer_) +
            L" --install-dir C:\\x",
        CREATE_SUSPENDED, work_dir_);
    ASSERT_TRUE(helper.process.valid());
    Sleep(100);  // creation times must differ visibly

    const std::wstring unrelated = app_dir_ + L"\\unrelated.exe";
    make_probe(unrelated, base_ / L"unrelated.log", L"0", 30000);
    const probe::StartedProcess other = probe::start_process(unrelated, in_quotes(unrelated));
    ASSERT_TRUE(other.process.valid());
    wchar_t digits[16];
    swprintf(digits, 16, L"%010lu", static_cast<unsigned long>(other.id));
    const bool patched = patch_command_line(helper.process.get(), placeholder, digits);
    if (!patched) TerminateProcess(helper.process.get(), 1);
    ResumeThread(helper.thread.get());
    const std::uint64_t start = probe::epoch_ms();
    const DWORD waited = WaitForSingleObject(helper.process.get(), 25000);
    const std::uint64_t elapsed = probe::epoch_ms() - start;
    DWORD exit_code = 0;
    GetExitCodeProcess(helper.process.get(), &exit_code);
    TerminateProcess(other.process.get(), 0);

    ASSERT_TRUE(patched);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the helper waited for a process younger than itself";
    EXPECT_EQ(exit_code, 0u);
    EXPECT_LT(elapsed, 15000u);
    EXPECT_GE(elapsed, 2700u);  // treated like an id that cannot be opened: the 2 s pause
    EXPECT_EQ(read_probe_log(installer_log_).size(), 1u);
}

struct VersionCase {
    const char* name;
    const wchar_t* argument;
    const wchar_t* display;
    DWORD major;
    DWORD minor;
};

class VersionStamp : public Update, public testing::WithParamInterface<VersionCase> {};

// An existing DisplayVersion of another type is replaced by a string.
TEST_P(VersionStamp, StoresTrimmedTextAndNumbers) {
    ASSERT_TRUE(create_entry(user_entry_));
    ASSERT_TRUE(user_entry_.set_dword(L"DisplayVersion", 1));
    expect_clean_success(run_helper(installer_tail(L" --install-dir C:\\x --version " + std::wstring(GetParam().argument))));
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
    ASSERT_TRUE(create_entry(user_entry_));
    if (!create_entry(machine_entry_)) GTEST_SKIP() << "the machine hive is not writable here";
    expect_clean_success(run_helper(standard_tail(L"4.1")));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"4.1");
    EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, L"DisplayVersion"), L"4.1");
    EXPECT_EQ(read_dword(HKEY_LOCAL_MACHINE, L"VersionMinor"), 1u);
}

}  // namespace
