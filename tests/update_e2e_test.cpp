// The real helper under Wine, driven the way an application drives it, with copies of the child
// probe standing in for the installer and the application. Each copy reads "<exe>.probe" and logs
// every run (time, raw command line, current directory, argv).
#include <gtest/gtest.h>

#include <algorithm>

#include "files.h"
#include "probes.h"
#include "program_runs.h"
#include "scratch_entry_test.h"
#include "update_timing.h"

#include <winternl.h>

namespace {

using support::ProbeRecord;
using support::in_quotes;
using support::read_dword;
using support::read_probe_log;
using support::read_string;

// The entry as the installer leaves it, with a name and an old minor version the stamp replaces.
[[nodiscard]] bool create_entry(support::ScratchEntry& entry) {
    return entry.create() && entry.set_string(L"DisplayName", L"Vellomar") && entry.set_dword(L"VersionMinor", 7);
}

class Update : public support::ScratchEntryTest {
protected:
    void SetUp() override {
        ScratchEntryTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_FALSE(base_.path().empty());
        ASSERT_TRUE(application_.process.valid());
        for (const std::wstring& directory : {package_dir_, app_dir_, work_dir_}) {
            ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
        }
        ASSERT_TRUE(support::place_probe(installer_, installer_log_, L"0"));
        ASSERT_TRUE(support::place_probe(app_, app_log_, L"0"));
    }

    // The helper with `tail`, in which `{pid}` is the id of an application that has already exited
    // (so the helper goes on without waiting) and `{installer}`, `{app}` and `{app_dir}` stand for
    // the fixture's paths.
    support::RunResult run_helper(const std::wstring& tail) {
        support::RunOptions options;
        options.current_directory = work_dir_;
        return support::run_helper(expand(tail), options);
    }

    std::wstring expand(std::wstring text) const {
        const std::pair<std::wstring, std::wstring> fields[] = {{L"{pid}", std::to_wstring(application_.id)},
                                                                {L"{installer}", installer_},
                                                                {L"{app_dir}", app_dir_},
                                                                {L"{app}", app_}};
        for (const auto& [field, value] : fields) {
            for (size_t at = 0; (at = text.find(field, at)) != std::wstring::npos; at += value.size()) {
                text.replace(at, field.size(), value);
            }
        }
        return text;
    }

    void expect_clean_success(const support::RunResult& result) {
        ASSERT_TRUE(result.started);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_code, 0u);
        EXPECT_TRUE(result.boxes.empty());
        EXPECT_EQ(result.standard_error, "");
    }

    const support::ScratchDirectory base_{L"update"};
    const std::wstring package_dir_ = base_ / L"pkg dir", app_dir_ = base_ / L"App Dir", work_dir_ = base_ / L"work";
    const std::wstring installer_ = package_dir_ + L"\\setup.exe", app_ = app_dir_ + L"\\app.exe";
    const std::wstring installer_log_ = base_ / L"installer.log", app_log_ = base_ / L"app.log";
    const support::ExitedProcess application_ = support::exited_process();
};

// What happens before the helper runs, beyond the fixture's layout.
enum class Before {
    nothing, delete_package, package_is_directory, read_only_package, delete_application, lock_name_taken
};

// The world the helper meets: the fixture's files changed by `before`, the command line `tail` (with
// the fields run_helper expands) and the installer stand-in's exit codes, one per run.
struct World {
    Before before;
    std::wstring tail;
    const wchar_t* installer_codes;
};

// The installer's runs: `silent` times `/S /UPDATE /D=<directory>`, at least 1 s apart, then, when
// `interactive`, opened through the shell without arguments.
struct Runs {
    std::uint32_t silent;
    const wchar_t* directory;
    bool interactive;
};

// How the helper ends: its exit code, its one error box (nullptr: none, otherwise with the fields
// expanded) and its standard error.
struct Ending {
    DWORD exit_code;
    const wchar_t* box;
    const char* standard_error;
};

// What it leaves behind, the entry as the installer leaves it before: the stamp (nullptr:
// DisplayVersion is not written) and the application started once, in its directory.
struct Effects {
    bool package_deleted;
    const wchar_t* display_version;
    DWORD major, minor;
    bool relaunched;
};

struct Expectation {
    Runs runs;
    Ending ending;
    Effects effects;
    std::uint64_t min_elapsed_ms;
};

struct UpdateCase {
    const char* name;
    World world;
    Expectation expected;
};

void PrintTo(const UpdateCase& row, std::ostream* out) { *out << row.name; }

const std::wstring installer_tail = L" --pid {pid} --installer \"{installer}\"";
const std::wstring standard_tail = installer_tail + L" --launch \"{app}\" --version 2.3.0";

const Ending clean = {0, nullptr, ""};
Ending after_fallback(const char* standard_error) { return {0, nullptr, standard_error}; }
Ending reported(const wchar_t* box) { return {1, box, ""}; }
const Effects updated = {true, L"2.3.0", 2, 3, true};
const Effects installed_only = {true, nullptr, 0, 0, false};
const Effects untouched = {false, nullptr, 0, 0, false};
const Runs no_runs = {0, nullptr, false};
const Runs three_then_shell = {3, L"{app_dir}", true};
// Below the sum of the pauses by a margin for the clock.
constexpr std::uint64_t pauses_ms(std::uint64_t sum) { return sum - 100; }

const UpdateCase update_cases[] = {
    // An id that cannot be opened costs its pause, then the settling one.
    {"HappyPathInstallsStampsAndRelaunches",
     {Before::nothing, L" --pid 0 --installer \"{installer}\" --launch \"{app}\" --version 2.3.0", L"0"},
     {{1, L"{app_dir}", false}, clean, updated,
      pauses_ms(vellomar::unopenable_process_pause_ms + vellomar::settling_pause_ms)}},
    {"TrailingSeparatorsOfTheDirectoryAreRemoved",
     {Before::nothing, installer_tail + L" --install-dir C:\\dir\\\\//", L"0"},
     {{1, L"C:\\dir", false}, clean, installed_only, 0}},
    {"DriveRootBecomesTheBareDrive", {Before::nothing, installer_tail + L" --install-dir C:\\", L"0"},
     {{1, L"C:", false}, clean, installed_only, 0}},
    {"ExplicitDirectoryWinsOverTheLaunchParent",
     {Before::nothing, standard_tail + L" --install-dir \"D:\\Other Place\"", L"0"},
     {{1, L"D:\\Other Place", false}, clean, updated, 0}},
    {"ThreeFailuresReportAndOpenTheInstallerInteractively", {Before::nothing, standard_tail, L"1"},
     {three_then_shell, after_fallback("silent install failed: Some(\"安装程序退出码 1\")\n"), untouched, 0}},
    {"CrashCodeIsReportedAsSignedDecimal",
     {Before::nothing, installer_tail + L" --install-dir C:\\x", L"0xC0000005"},
     {{3, L"C:\\x", true}, after_fallback("silent install failed: Some(\"安装程序退出码 -1073741819\")\n"),
      untouched, 0}},
    {"SuccessOnTheSecondAttemptFinishesNormally", {Before::nothing, standard_tail, L"5,0"},
     {{2, L"{app_dir}", false}, clean, updated, 0}},
    // The settling pause, then the two pauses between the attempts, none of which starts anything.
    {"EmptyDirectoryFailsWithoutStartingTheInstaller",
     {Before::nothing, installer_tail + L" --install-dir \\", L"0"},
     {{0, nullptr, true}, after_fallback("silent install failed: Some(\"安装目录无效\")\n"), untouched,
      pauses_ms(vellomar::settling_pause_ms + 2 * vellomar::retry_pause_ms)}},
    {"WithoutAnyDirectoryTheInstallerIsOpenedInteractivelyAtOnce",
     {Before::nothing, installer_tail + L" --version 9.9", L"0"}, {{0, nullptr, true}, clean, untouched, 0}},
    {"MissingPackageIsReported", {Before::delete_package, standard_tail, L"0"},
     {no_runs, reported(L"安装包不存在: {installer}"), {true, nullptr, 0, 0, false}, 0}},
    {"PackageThatIsADirectoryIsReported",
     {Before::package_is_directory, installer_tail + L" --install-dir C:\\x", L"0"},
     {no_runs, reported(L"安装包不存在: {installer}"), untouched, 0}},
    // A query of the empty path reports zero characters; the package is then missing as any other.
    {"EmptyPackagePathIsReportedAsMissing",
     {Before::nothing, L" --pid {pid} --installer \"\" --install-dir C:\\x", L"0"},
     {no_runs, reported(L"安装包不存在: "), untouched, 0}},
    {"MissingApplicationAfterInstallIsReportedAfterTheStamp", {Before::delete_application, standard_tail, L"0"},
     {{1, L"{app_dir}", false}, reported(L"未找到程序: {app}"), {true, L"2.3.0", 2, 3, false}, 0}},
    {"ReadOnlyPackageIsDeleted", {Before::read_only_package, standard_tail, L"0"},
     {{1, L"{app_dir}", false}, clean, updated, 0}},
    {"WhitespaceVersionWritesNothingButStillRelaunches",
     {Before::nothing, installer_tail + L" --launch \"{app}\" --version \" \t \"", L"0"},
     {{1, L"{app_dir}", false}, clean, {true, nullptr, 0, 0, true}, 0}},
    // Made absolute against the helper's current directory, as the package is: the installer would
    // otherwise decide what a relative /D= means.
    {"RelativeDirectoryIsMadeAbsoluteAgainstTheCurrentDirectory",
     {Before::nothing, installer_tail + L" --install-dir \"..\\App Dir\\\\\"", L"0"},
     {{1, L"{app_dir}", false}, clean, installed_only, 0}},
    {"WithoutLaunchNothingIsStarted",
     {Before::nothing, installer_tail + L" --install-dir C:\\x --version 3", L"0"},
     {{1, L"C:\\x", false}, clean, {true, L"3", 3, 0, false}, 0}},
    // Another kind of object under the lock's name: the update goes on unguarded rather than not at all.
    {"LockNameHeldByAnotherKindOfObjectLeavesTheUpdateUnguarded", {Before::lock_name_taken, standard_tail, L"0"},
     {{1, L"{app_dir}", false}, clean, updated, 0}},
};

class UpdateTable : public Update, public testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateTable, Run) {
    const World& world = GetParam().world;
    const Expectation& expected = GetParam().expected;
    ASSERT_TRUE(create_entry(user_entry_));
    ASSERT_TRUE(support::place_probe(installer_, installer_log_, world.installer_codes));
    vellomar::UniqueHandle lock_name_holder;
    switch (world.before) {
    case Before::nothing: break;
    case Before::delete_package: ASSERT_TRUE(DeleteFileW(installer_.c_str())); break;
    case Before::package_is_directory:
        ASSERT_TRUE(DeleteFileW(installer_.c_str()));
        ASSERT_TRUE(CreateDirectoryW(installer_.c_str(), nullptr));
        break;
    case Before::read_only_package: ASSERT_TRUE(SetFileAttributesW(installer_.c_str(), FILE_ATTRIBUTE_READONLY)); break;
    case Before::delete_application: ASSERT_TRUE(DeleteFileW(app_.c_str())); break;
    case Before::lock_name_taken:
        lock_name_holder = vellomar::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, L"Local\\Vellomar.Update"));
        ASSERT_TRUE(lock_name_holder.valid());
        ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        break;
    }

    const support::RunResult result = run_helper(world.tail);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, expected.ending.exit_code);
    if (expected.ending.box != nullptr) {
        ASSERT_EQ(result.boxes.size(), 1u);
        EXPECT_EQ(result.boxes[0].text, expand(expected.ending.box));
    } else {
        EXPECT_TRUE(result.boxes.empty());
    }
    EXPECT_EQ(result.standard_error, expected.ending.standard_error);
    EXPECT_GE(result.elapsed_ms, expected.min_elapsed_ms);

    // The relaunched application and the shell-opened installer may log after the helper has ended;
    // then nothing more may follow.
    const Runs& runs_expected = expected.runs;
    const Effects& effects = expected.effects;
    const size_t run_count = runs_expected.silent + (runs_expected.interactive ? 1 : 0);
    (void)support::wait_for_probe_records(app_log_, effects.relaunched ? 1 : 0);
    (void)support::wait_for_probe_records(installer_log_, run_count);
    Sleep(500);
    const std::vector<ProbeRecord> runs = read_probe_log(installer_log_);
    const std::vector<ProbeRecord> launches = read_probe_log(app_log_);
    ASSERT_EQ(runs.size(), run_count);
    for (size_t i = 0; i < runs_expected.silent; ++i) {
        EXPECT_EQ(runs[i].command_line, in_quotes(installer_) + L" /S /UPDATE /D=" + expand(runs_expected.directory));
        EXPECT_EQ(runs[i].directory, work_dir_);
        if (i > 0) {
            EXPECT_GE(runs[i].time_ms - runs[i - 1].time_ms, vellomar::retry_pause_ms - 50);
        }
    }
    if (runs_expected.interactive) {
        EXPECT_EQ(runs.back().argv.size(), 1u);
        EXPECT_EQ(runs.back().command_line.find(L"/S"), std::wstring::npos);
    }
    EXPECT_EQ(support::file_exists(installer_), !effects.package_deleted);

    if (effects.display_version != nullptr) {
        EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), effects.display_version);
        EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMajor"), effects.major);
        EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMinor"), effects.minor);
    } else {
        EXPECT_FALSE(support::read_value(HKEY_CURRENT_USER, L"DisplayVersion").has_value());
        EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"VersionMinor"), 7u);
    }
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayName"), L"Vellomar");
    EXPECT_FALSE(support::entry_exists(HKEY_LOCAL_MACHINE));

    ASSERT_EQ(launches.size(), effects.relaunched ? 1u : 0u);
    if (effects.relaunched) {
        EXPECT_EQ(launches[0].command_line, in_quotes(app_));
        EXPECT_EQ(launches[0].directory, app_dir_);
    }
}

INSTANTIATE_TEST_SUITE_P(RealHelper, UpdateTable, testing::ValuesIn(update_cases),
                         [](const testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

// Relative names mean files in the helper's current directory, resolved once: the package checked
// is the one run (never a `pkg.exe` beside it) and deleted, and a bare launch name is relaunched in
// that directory.
TEST_F(Update, RelativeNamesAreFilesInTheCurrentDirectory) {
    const std::wstring package = work_dir_ + L"\\pkg", app = work_dir_ + L"\\app.exe";
    const std::wstring decoy_log = base_ / L"decoy.log";
    ASSERT_TRUE(support::place_probe(package, installer_log_));
    ASSERT_TRUE(support::place_probe(package + L".exe", decoy_log));
    ASSERT_TRUE(support::place_probe(app, app_log_));
    expect_clean_success(run_helper(L" --pid {pid} --installer pkg --launch app.exe --install-dir \"{app_dir}\""));

    const std::vector<ProbeRecord> installs = read_probe_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].command_line, in_quotes(package) + L" /S /UPDATE /D=" + app_dir_);
    EXPECT_TRUE(read_probe_log(decoy_log).empty());
    EXPECT_FALSE(support::file_exists(package));
    EXPECT_TRUE(support::file_exists(package + L".exe"));
    const std::vector<ProbeRecord> launches = support::wait_for_probe_records(app_log_, 1);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].command_line, in_quotes(app));
    EXPECT_EQ(launches[0].directory, work_dir_);
}

// Two helpers started for one update take turns: one installer never runs while the other does.
TEST_F(Update, TwoHelpersNeverRunTheirInstallersAtOnce) {
    const std::wstring second_installer = package_dir_ + L"\\setup2.exe", second_log = base_ / L"installer2.log";
    ASSERT_TRUE(support::place_probe(installer_, installer_log_, L"0", 1500));
    ASSERT_TRUE(support::place_probe(second_installer, second_log, L"0", 1500));
    const auto start_helper = [&](const std::wstring& installer) {
        return support::start_process(support::helper_path(),
                                    in_quotes(support::helper_path()) + expand(L" --pid {pid} --installer ") +
                                        in_quotes(installer) + expand(L" --install-dir \"{app_dir}\""),
                                    0, work_dir_);
    };
    const support::StartedProcess first = start_helper(installer_), second = start_helper(second_installer);
    ASSERT_TRUE(first.process.valid());
    ASSERT_TRUE(second.process.valid());
    EXPECT_EQ(WaitForSingleObject(first.process.get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second.process.get(), 60000), WAIT_OBJECT_0);

    const std::vector<ProbeRecord> first_runs = read_probe_log(installer_log_), second_runs = read_probe_log(second_log);
    ASSERT_EQ(first_runs.size(), 1u);
    ASSERT_EQ(second_runs.size(), 1u);
    const std::uint64_t earlier = std::min(first_runs[0].time_ms, second_runs[0].time_ms);
    const std::uint64_t later = std::max(first_runs[0].time_ms, second_runs[0].time_ms);
    // Each installer runs 1.5 s after its record.
    EXPECT_GE(later - earlier, 1400u);
}

// Whether `pid` shows a box with the helper's caption, left as it is.
bool shows_box(DWORD pid) {
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, nullptr, support::helper_caption)) != nullptr;) {
        DWORD owner = 0;
        (void)GetWindowThreadProcessId(window, &owner);
        if (owner == pid) return true;
    }
    return false;
}

// A box waits for the user as long as it takes; the next helper's update does not wait with it.
TEST_F(Update, UnansweredBoxDoesNotHoldUpTheNextUpdate) {
    const std::wstring second_installer = package_dir_ + L"\\setup2.exe", second_log = base_ / L"installer2.log";
    ASSERT_TRUE(support::place_probe(second_installer, second_log, L"0"));
    // The first helper installs, finds no application to relaunch, and says so in a box left open.
    const std::wstring missing_app = app_dir_ + L"\\missing.exe";
    const support::StartedProcess first = support::start_process(
        support::helper_path(),
        in_quotes(support::helper_path()) + expand(L" --pid {pid} --installer \"{installer}\" --launch ") +
            in_quotes(missing_app) + expand(L" --install-dir \"{app_dir}\""),
        0, work_dir_);
    ASSERT_TRUE(first.process.valid());
    ASSERT_TRUE(support::poll_until([&] { return shows_box(first.id); }, 30000));

    support::RunOptions options;
    options.current_directory = work_dir_;
    options.timeout_ms = 30000;
    const support::RunResult second = support::run_helper(
        expand(L" --pid {pid} --installer ") + in_quotes(second_installer) + expand(L" --install-dir \"{app_dir}\""),
        options);
    EXPECT_FALSE(second.timed_out) << "the second helper waited for the first one's box";
    EXPECT_EQ(second.exit_code, 0u);
    EXPECT_EQ(read_probe_log(second_log).size(), 1u);
    EXPECT_EQ(WaitForSingleObject(first.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Answered at last, the box ends the first helper as it should.
    support::BoxWatch watch(first.id, support::helper_caption);
    ASSERT_EQ(WaitForSingleObject(first.process.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
    const std::vector<support::MessageBoxRecord> boxes = watch.stop();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"未找到程序: " + missing_app);
    DWORD exit_code = 0;
    EXPECT_TRUE(GetExitCodeProcess(first.process.get(), &exit_code));
    EXPECT_EQ(exit_code, 1u);
}

// cmd.exe would run what follows `&` in the directory as a command of its own and report its result.
TEST_F(Update, BatchInstallerIsNotRunWithADirectoryCmdWouldSplit) {
    const std::wstring script = package_dir_ + L"\\setup.cmd", marker = base_ / L"marker.txt";
    ASSERT_TRUE(support::write_utf8(script, L"@exit /b 0\r\n"));
    const support::RunResult result = run_helper(L" --pid {pid} --installer " + in_quotes(script) +
                                               L" --install-dir \"" + (base_ / L"R&echo x>") + marker + L"\"");
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(result.boxes.empty());
    EXPECT_EQ(result.standard_error, "silent install failed: Some(\"启动安装程序失败: batch file arguments are invalid\")\n");
    Sleep(500);
    EXPECT_FALSE(support::file_exists(marker));
    EXPECT_TRUE(support::file_exists(script));
}

TEST_F(Update, RunningApplicationIsWaitedFor) {
    const std::wstring running = app_dir_ + L"\\running.exe";
    ASSERT_TRUE(support::place_probe(running, base_ / L"running.log", L"0", 3000));
    const support::StartedProcess application = support::start_process(running, in_quotes(running));
    ASSERT_TRUE(application.process.valid());
    const std::uint64_t started = support::epoch_ms();
    const support::RunResult result = run_helper(L" --pid " + std::to_wstring(application.id) +
                                               L" --installer \"{installer}\" --launch " + in_quotes(running));
    EXPECT_EQ(result.exit_code, 0u);
    const std::vector<ProbeRecord> installs = read_probe_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    // The application lives 3 s; the installer follows its exit by the settling pause.
    EXPECT_GE(installs[0].time_ms, started + 3000 + pauses_ms(vellomar::settling_pause_ms));
}

TEST_F(Update, LockedExecutableIsWaitedForUntilReleased) {
    // Another process holds the application's file for 3 s after the application has exited.
    const support::FileLock lock(app_, 3000);
    ASSERT_TRUE(lock.wait_until_taken());
    const support::RunResult result = run_helper(standard_tail);
    EXPECT_EQ(result.exit_code, 0u);
    const std::vector<ProbeRecord> installs = read_probe_log(installer_log_);
    ASSERT_EQ(installs.size(), 1u);
    // The lock was taken after its holder started; the installer follows its release by the settling pause.
    EXPECT_GE(installs[0].time_ms, lock.started_ms() + 3000 + pauses_ms(vellomar::settling_pause_ms));
    EXPECT_LT(result.elapsed_ms, 12000u);
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
    const support::StartedProcess helper = support::start_process(
        support::helper_path(),
        in_quotes(support::helper_path()) + L" --pid " + placeholder + L" --installer " + in_quotes(installer_) +
            L" --install-dir C:\\x",
        CREATE_SUSPENDED, work_dir_);
    ASSERT_TRUE(helper.process.valid());
    Sleep(100);  // creation times must differ visibly

    const std::wstring unrelated = app_dir_ + L"\\unrelated.exe";
    ASSERT_TRUE(support::place_probe(unrelated, base_ / L"unrelated.log", L"0", 30000));
    const support::StartedProcess other = support::start_process(unrelated, in_quotes(unrelated));
    ASSERT_TRUE(other.process.valid());
    wchar_t digits[16];
    swprintf(digits, 16, L"%010lu", static_cast<unsigned long>(other.id));
    const bool patched = patch_command_line(helper.process.get(), placeholder, digits);
    if (!patched) TerminateProcess(helper.process.get(), 1);
    ResumeThread(helper.thread.get());
    const std::uint64_t start = support::epoch_ms();
    const DWORD waited = WaitForSingleObject(helper.process.get(), 25000);
    const std::uint64_t elapsed = support::epoch_ms() - start;
    DWORD exit_code = 0;
    GetExitCodeProcess(helper.process.get(), &exit_code);
    TerminateProcess(other.process.get(), 0);

    ASSERT_TRUE(patched);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the helper waited for a process younger than itself";
    EXPECT_EQ(exit_code, 0u);
    EXPECT_LT(elapsed, 15000u);
    // Treated like an id that cannot be opened: its pause, then the settling one.
    EXPECT_GE(elapsed, pauses_ms(vellomar::unopenable_process_pause_ms + vellomar::settling_pause_ms));
    EXPECT_EQ(read_probe_log(installer_log_).size(), 1u);
}

TEST_F(Update, BothHivesAreStampedWhereTheEntryExists) {
    ASSERT_TRUE(create_entry(user_entry_));
    if (!create_entry(machine_entry_)) GTEST_SKIP() << "the machine hive is not writable here";
    expect_clean_success(run_helper(L" --pid {pid} --installer \"{installer}\" --launch \"{app}\" --version 4.1"));
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"4.1");
    EXPECT_EQ(read_string(HKEY_LOCAL_MACHINE, L"DisplayVersion"), L"4.1");
    EXPECT_EQ(read_dword(HKEY_LOCAL_MACHINE, L"VersionMinor"), 1u);
}

}  // namespace
