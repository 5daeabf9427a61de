// The update sequence over a scripted world (fake_platform.cpp): every row gives the world and the
// exact platform calls the sequence must make in it, pauses included, and its exit code.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "update_timing.h"

namespace {

using fake::Application;
using fake::World;
using vellomar::fixed_error;
using vellomar::os_error;
using Trace = std::vector<std::string>;

Trace operator+(Trace first, const Trace& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::string pause(std::uint32_t milliseconds) {
    return "pause_ms(" + std::to_string(milliseconds) + ")";
}

const std::u16string installer = u"C:\\pkg\\setup.exe", app = u"C:\\App\\app.exe";
const std::vector<std::u16string> standard_arguments = {
    u"vellomar-update.exe", u"--pid", u"4242", u"--installer", installer, u"--launch", app, u"--version", u"2.3.0"};

// The application runs until the helper waits for it; the package and the application exist; the
// installer succeeds at once, and so does the relaunch.
World standard_world() {
    World world;
    world.arguments = standard_arguments;
    world.files = {installer, app};
    world.installer_runs = {0};
    return world;
}

// The standard world with `change` made to it.
World with(const std::function<void(World&)>& change) {
    World world = standard_world();
    change(world);
    return world;
}

World with_arguments(std::vector<std::u16string> arguments) {
    return with([&](World& world) { world.arguments = arguments; });
}

const Trace unlock = {"path_exists(C:\\App\\app.exe)", "wait_for_file_unlock(C:\\App\\app.exe, " +
                                                           std::to_string(vellomar::unlock_limit_seconds) + " s, every " +
                                                           std::to_string(vellomar::unlock_probe_pause_ms) + " ms)"};
const Trace waited = Trace{"wait_for_application_exit(4242)"} + unlock + Trace{pause(vellomar::settling_pause_ms)};
const Trace checked = {"is_existing_regular_file(C:\\pkg\\setup.exe)"};
const Trace locked = Trace{"take_update_lock"} + checked;
const std::string install_into_app = "run_and_wait(\"C:\\pkg\\setup.exe\" /S /UPDATE /D=C:\\App)";
const Trace retry = {pause(vellomar::retry_pause_ms)};
const Trace stamped = {"delete_package(C:\\pkg\\setup.exe)", "stamp_uninstall_version(HKCU, 2.3.0)",
                       "stamp_uninstall_version(HKLM, 2.3.0)", "notify_association_change"};
const Trace relaunched = {"is_existing_regular_file(C:\\App\\app.exe)",
                          "start_and_release(\"C:\\App\\app.exe\" in C:\\App flags 0x208)"};
const Trace to_the_user = checked + Trace{"open_with_shell(C:\\pkg\\setup.exe)"};
const Trace released = {"release_update_lock"};

struct SequenceCase {
    const char* name;
    World world;
    Trace trace;
    int exit_code;
};

void PrintTo(const SequenceCase& row, std::ostream* out) { *out << row.name; }

const SequenceCase sequence_cases[] = {
    {"RunningApplicationIsWaitedForThenInstalledStampedAndRelaunched", standard_world(),
     waited + locked + Trace{install_into_app} + stamped + relaunched + released, 0},
    // The helper's own id or a reused one is told apart by the platform (wait_rules_test.cpp) and
    // reported as an application that is gone.
    {"GoneApplicationCostsThePause", with([](World& w) { w.application = Application::gone; }),
     Trace{"wait_for_application_exit(4242)", pause(vellomar::unopenable_process_pause_ms)} + unlock +
         Trace{pause(vellomar::settling_pause_ms)} + locked + Trace{install_into_app} + stamped + relaunched + released,
     0},
    {"MissingPidIsReportedWithExitCode2", with_arguments({u"vellomar-update.exe", u"--installer", installer}),
     {"show_error(更新助手参数无效（缺少进程号）)", "exit_process(2)"}, 2},
    // No unlock wait for a launch that is not there, and after the installation it is reported,
    // the lock released first.
    {"MissingLaunchIsNotWaitedForAndReportedAfterTheStamp", with([](World& w) { w.files = {installer}; }),
     Trace{"wait_for_application_exit(4242)", "path_exists(C:\\App\\app.exe)", pause(vellomar::settling_pause_ms)} +
         locked + Trace{install_into_app} + stamped +
         Trace{"is_existing_regular_file(C:\\App\\app.exe)", "release_update_lock", "show_error(未找到程序: C:\\App\\app.exe)",
               "exit_process(1)"},
     1},
    // A directory exists and is waited for up to the limit, but cannot be relaunched.
    {"LaunchThatIsADirectoryIsWaitedForButNotRelaunched",
     with([](World& w) { w.files = {installer}; w.directories = {app}; }),
     waited + locked + Trace{install_into_app} + stamped +
         Trace{"is_existing_regular_file(C:\\App\\app.exe)", "release_update_lock", "show_error(未找到程序: C:\\App\\app.exe)",
               "exit_process(1)"},
     1},
    {"MissingPackageIsCheckedUnderTheLockAndReportedAfterIt", with([](World& w) { w.files = {app}; }),
     waited + locked + Trace{"release_update_lock", "show_error(安装包不存在: C:\\pkg\\setup.exe)", "exit_process(1)"}, 1},
    {"MissingPackageWithoutADirectoryIsReportedWithoutTheLock",
     with([](World& w) {
         w.arguments = {u"vellomar-update.exe", u"--pid", u"4242", u"--installer", installer};
         w.files = {app};
     }),
     Trace{"wait_for_application_exit(4242)", pause(vellomar::settling_pause_ms)} + checked +
         Trace{"show_error(安装包不存在: C:\\pkg\\setup.exe)", "exit_process(1)"},
     1},
    {"WithoutADirectoryTheShellOpensTheInstallerAtOnce",
     with_arguments({u"vellomar-update.exe", u"--pid", u"4242", u"--installer", installer, u"--version", u"9.9"}),
     Trace{"wait_for_application_exit(4242)", pause(vellomar::settling_pause_ms)} + to_the_user, 0},
    {"ShellThatCannotOpenTheInstallerIsReported",
     with([](World& w) {
         w.arguments = {u"vellomar-update.exe", u"--pid", u"4242", u"--installer", installer};
         w.shell_opens = false;
     }),
     Trace{"wait_for_application_exit(4242)", pause(vellomar::settling_pause_ms)} + to_the_user +
         Trace{"show_error(无法启动安装程序)", "exit_process(1)"},
     1},
    // Three runs that cannot start anything, the retry pauses all the same.
    {"EmptyDirectoryFailsThreeTimesWithoutRunningAnything",
     with_arguments({u"vellomar-update.exe", u"--pid", u"4242", u"--installer", installer, u"--install-dir", u"\\"}),
     Trace{"wait_for_application_exit(4242)", pause(vellomar::settling_pause_ms)} + locked + retry + retry +
         Trace{"report_silent_install_failure(Some(\"安装目录无效\"))"} + to_the_user + released,
     0},
    {"FailureThenSuccessFinishesAsAFirstSuccess", with([](World& w) { w.installer_runs = {5, 0}; }),
     waited + locked + Trace{install_into_app} + retry + Trace{install_into_app} + stamped + relaunched + released, 0},
    // The last failure is reported; the installer goes to the user, under the lock like the silent runs.
    {"ThreeFailuresReportTheLastAndOpenTheInstallerInteractively",
     with([](World& w) { w.installer_runs = {1, os_error(740), fixed_error(u"batch file arguments are invalid")}; }),
     waited + locked + Trace{install_into_app} + retry + Trace{install_into_app} + retry + Trace{install_into_app} +
         Trace{"report_silent_install_failure(Some(\"启动安装程序失败: batch file arguments are invalid\"))"} +
         to_the_user + released,
     0},
    {"InstallerThatCannotStartIsReportedWithTheSystemText",
     with([](World& w) { w.installer_runs = {os_error(2), os_error(2), os_error(2)}; }),
     waited + locked + Trace{install_into_app} + retry + Trace{install_into_app} + retry + Trace{install_into_app} +
         Trace{"report_silent_install_failure(Some(\"启动安装程序失败: system message (os error 2)\"))"} +
         to_the_user + released,
     0},
    {"ShellFailureAfterThreeFailuresIsReportedAfterTheLock",
     with([](World& w) {
         w.installer_runs = {1, 1, 1};
         w.shell_opens = false;
     }),
     waited + locked + Trace{install_into_app} + retry + Trace{install_into_app} + retry + Trace{install_into_app} +
         Trace{"report_silent_install_failure(Some(\"安装程序退出码 1\"))"} + to_the_user +
         Trace{"release_update_lock", "show_error(无法启动安装程序)", "exit_process(1)"},
     1},
    {"RelaunchErrorIsReportedAfterTheLock", with([](World& w) { w.relaunch_error = os_error(193); }),
     waited + locked + Trace{install_into_app} + stamped + relaunched +
         Trace{"release_update_lock", "show_error(无法启动新版本: system message (os error 193))", "exit_process(1)"},
     1},
    {"BlankVersionStampsNothingButRelaunches",
     with_arguments({u"vellomar-update.exe", u"--pid", u"4242", u"--installer", installer, u"--launch", app,
                     u"--version", u" \t\u3000"}),
     waited + locked + Trace{install_into_app, "delete_package(C:\\pkg\\setup.exe)"} + relaunched + released, 0},
    // A relative directory is made absolute against the current directory before it reaches /D=.
    {"WithoutLaunchNothingIsStartedAndARelativeDirectoryIsMadeAbsolute",
     with_arguments({u"vellomar-update.exe", u"--pid", u"4242", u"--installer", installer, u"--install-dir", u"App\\",
                     u"--version", u"3"}),
     Trace{"wait_for_application_exit(4242)", pause(vellomar::settling_pause_ms)} + locked +
         Trace{"run_and_wait(\"C:\\pkg\\setup.exe\" /S /UPDATE /D=C:\\work\\App)", "delete_package(C:\\pkg\\setup.exe)",
               "stamp_uninstall_version(HKCU, 3)", "stamp_uninstall_version(HKLM, 3)", "notify_association_change"} +
         released,
     0},
    // Relative paths are probed, run, deleted and relaunched in their absolute form; a /D= value
    // with a space is one argument, unquoted.
    {"RelativeInstallerAndLaunchAreUsedInTheirAbsoluteForm",
     with([](World& w) {
         w.arguments = {u"vellomar-update.exe", u"--pid",          u"4242",
                        u"--installer",         u"setup.exe",      u"--launch",
                        u"sub\\app.exe",        u"--install-dir",  u"C:\\Program Files\\App",
                        u"--version",           u"2.3.0"};
         w.files = {u"C:\\work\\setup.exe", u"C:\\work\\sub\\app.exe"};
     }),
     Trace{"wait_for_application_exit(4242)", "path_exists(C:\\work\\sub\\app.exe)",
           "wait_for_file_unlock(C:\\work\\sub\\app.exe, " + std::to_string(vellomar::unlock_limit_seconds) +
               " s, every " + std::to_string(vellomar::unlock_probe_pause_ms) + " ms)",
           pause(vellomar::settling_pause_ms), "take_update_lock", "is_existing_regular_file(C:\\work\\setup.exe)",
           "run_and_wait(\"C:\\work\\setup.exe\" /S /UPDATE /D=C:\\Program Files\\App)",
           "delete_package(C:\\work\\setup.exe)"} +
         Trace(stamped.begin() + 1, stamped.end()) +
         Trace{"is_existing_regular_file(C:\\work\\sub\\app.exe)",
               "start_and_release(\"C:\\work\\sub\\app.exe\" in C:\\work\\sub flags 0x208)"} +
         released,
     0},
    // Messages show a relative path as the application passed it.
    {"MissingRelativeLaunchIsReportedAsGiven",
     with([](World& w) {
         w.arguments = {u"vellomar-update.exe", u"--pid", u"4242", u"--installer", installer, u"--launch",
                        u"sub\\app.exe"};
         w.files = {installer};
     }),
     Trace{"wait_for_application_exit(4242)", "path_exists(C:\\work\\sub\\app.exe)",
           pause(vellomar::settling_pause_ms)} +
         locked +
         Trace{"run_and_wait(\"C:\\pkg\\setup.exe\" /S /UPDATE /D=C:\\work\\sub)", "delete_package(C:\\pkg\\setup.exe)",
               "is_existing_regular_file(C:\\work\\sub\\app.exe)", "release_update_lock",
               "show_error(未找到程序: sub\\app.exe)", "exit_process(1)"},
     1},
    {"MissingRelativeInstallerIsReportedAsGiven",
     with_arguments({u"vellomar-update.exe", u"--pid", u"4242", u"--installer", u"dl\\setup.exe"}),
     {"wait_for_application_exit(4242)", pause(vellomar::settling_pause_ms),
      "is_existing_regular_file(C:\\work\\dl\\setup.exe)", "show_error(安装包不存在: dl\\setup.exe)", "exit_process(1)"},
     1},
    // The numbers a user sees, spelled once as literals so that an edit of a constant fails here: 2 s
    // for an application that is gone, up to 15 s for the executable probed every 200 ms, 800 ms before
    // the package is checked, and three silent runs 1 s apart.
    {"GoldenTimingsOfAGoneApplicationAndThreeFailedRuns",
     with([](World& w) {
         w.application = Application::gone;
         w.installer_runs = {1, 1, 1};
     }),
     {"wait_for_application_exit(4242)", "pause_ms(2000)", "path_exists(C:\\App\\app.exe)",
      "wait_for_file_unlock(C:\\App\\app.exe, 15 s, every 200 ms)", "pause_ms(800)", "take_update_lock",
      "is_existing_regular_file(C:\\pkg\\setup.exe)", install_into_app, "pause_ms(1000)", install_into_app,
      "pause_ms(1000)", install_into_app, "report_silent_install_failure(Some(\"安装程序退出码 1\"))",
      "is_existing_regular_file(C:\\pkg\\setup.exe)", "open_with_shell(C:\\pkg\\setup.exe)", "release_update_lock"},
     0},
};

class UpdateSequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(UpdateSequence, MakesExactlyTheseCalls) {
    const SequenceCase& row = GetParam();
    const fake::Outcome outcome = fake::run(row.world);
    EXPECT_EQ(outcome.trace, row.trace);
    EXPECT_EQ(outcome.exit_code, row.exit_code);
}

INSTANTIATE_TEST_SUITE_P(Rows, UpdateSequence, testing::ValuesIn(sequence_cases),
                         [](const testing::TestParamInfo<SequenceCase>& info) { return std::string(info.param.name); });

}  // namespace
