// The launcher against real children: child_probe.exe (built beside this test) reports its raw
// command line, argv, current directory and standard handles, and exits with a chosen code.
#include "platform/process_launcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "platform/handles.h"
#include "platform/win32.h"
// After win32.h: it needs the Win32 types.
#include <tlhelp32.h>

#include "core/text.h"
#include "files.h"
#include "platform/win32_queries.h"
#include "probe_support.h"
#include "processes.h"

namespace vellomar {
namespace {

using probe::ProbeRecord;
using probe::ScratchDirectory;
using probe::u16;
using probe::wide;

std::u16string probe_exe() { return u16(probe::own_directory()) + u"child_probe.exe"; }

bool exists(const std::u16string& path) { return probe::file_exists(wide(path)); }

// The file's one record, when it holds exactly one.
std::optional<ProbeRecord> only_record(const std::u16string& path) {
    std::vector<ProbeRecord> records = probe::read_probe_log(wide(path));
    return records.size() == 1 ? std::optional<ProbeRecord>(std::move(records[0])) : std::nullopt;
}

void place_probe(const std::u16string& path, const std::wstring& log = {}, const std::wstring& exit_codes = {},
                 DWORD sleep_ms = 0, const std::u16string& write_file = {}) {
    ASSERT_TRUE(probe::place_probe(wide(path), log, exit_codes, sleep_ms, wide(write_file)))
        << to_utf8(path) << " error " << GetLastError();
}

void remove_probe(const std::u16string& path) {
    DeleteFileW(wide(path).c_str());
    DeleteFileW(wide(path + u".probe").c_str());
}

// The test's own standard handles, replaced for one scope and restored afterwards.
struct StdHandlesSwap {
    HANDLE saved[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                       GetStdHandle(STD_ERROR_HANDLE)};
    StdHandlesSwap(HANDLE input, HANDLE output, HANDLE error) {
        SetStdHandle(STD_INPUT_HANDLE, input);
        SetStdHandle(STD_OUTPUT_HANDLE, output);
        SetStdHandle(STD_ERROR_HANDLE, error);
    }
    StdHandlesSwap(const StdHandlesSwap&) = delete;
    ~StdHandlesSwap() {
        SetStdHandle(STD_INPUT_HANDLE, saved[0]);
        SetStdHandle(STD_OUTPUT_HANDLE, saved[1]);
        SetStdHandle(STD_ERROR_HANDLE, saved[2]);
    }
};

UniqueHandle open_output_file(const std::u16string& path) {
    return UniqueHandle(CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

struct Captured {
    std::variant<std::int32_t, LaunchError> outcome;
    std::optional<ProbeRecord> record;
};

// run_and_wait with the test's standard output sent to a file, where the probe writes its record.
Captured run_capturing(const LaunchRequest& request, const ScratchDirectory& scratch) {
    const std::u16string capture = scratch / u"stdout.txt";
    Captured captured{std::int32_t{0}, std::nullopt};
    {
        const UniqueHandle output = open_output_file(capture);
        EXPECT_TRUE(output.valid());
        const StdHandlesSwap swap(GetStdHandle(STD_INPUT_HANDLE), output.get(), GetStdHandle(STD_ERROR_HANDLE));
        captured.outcome = run_and_wait(request);
    }
    captured.record = only_record(capture);
    return captured;
}

std::int32_t exit_code_of(const std::variant<std::int32_t, LaunchError>& outcome) {
    if (const LaunchError* error = std::get_if<LaunchError>(&outcome)) {
        ADD_FAILURE() << "launch failed: " << to_utf8(launch_error_text(*error));
        return -12345;
    }
    return std::get<std::int32_t>(outcome);
}

LaunchError error_of(const std::variant<std::int32_t, LaunchError>& outcome) {
    const LaunchError* error = std::get_if<LaunchError>(&outcome);
    EXPECT_NE(error, nullptr) << "the launch succeeded";
    return error != nullptr ? *error : LaunchError{};
}

// Windows and Wine word the system's messages differently, so only their form is checked: the
// message before `suffix`, present and without the line end and padding the system appends.
std::u16string message_before(const std::u16string& text, std::u16string_view suffix) {
    if (text.size() <= suffix.size() || text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
        ADD_FAILURE() << "no message before \"" << to_utf8(suffix) << "\": " << to_utf8(text);
        return {};
    }
    const std::u16string message = text.substr(0, text.size() - suffix.size());
    EXPECT_EQ(message.find_last_not_of(u" \t\r\n\f"), message.size() - 1) << to_utf8(text);
    return message;
}

// What the probe writes for a text: unpaired surrogates become U+FFFD.
std::wstring as_recorded(std::u16string_view text) { return wide(to_display_text(text)); }

struct PathSwap {
    OsResult<std::u16string> saved = environment_variable(u"PATH");
    explicit PathSwap(const std::u16string& value) { SetEnvironmentVariableW(L"PATH", wide(value).c_str()); }
    PathSwap(const PathSwap&) = delete;
    ~PathSwap() { SetEnvironmentVariableW(L"PATH", saved.ok() ? wide(saved.value).c_str() : nullptr); }
};

bool wait_for_file(const std::u16string& path) {
    return probe::poll_until([&] { return exists(path); }, 30000);
}

ArgumentEntry ordinary(std::u16string text) { return {std::move(text), false}; }

LaunchRequest request_of(std::u16string program, std::vector<ArgumentEntry> arguments = {},
                         std::optional<std::u16string> directory = std::nullopt, std::uint32_t flags = 0) {
    return {std::move(program), std::move(arguments), std::move(directory), flags};
}

TEST(LauncherExitCode, RunAndWaitReturnsTheExitCodeWithTheSameBits) {
    const ScratchDirectory scratch(L"launch");
    const std::pair<std::u16string, std::int32_t> cases[] = {
        {u"0", 0}, {u"1", 1}, {u"-1", -1}, {u"0xFFFFFFFF", -1}, {u"0xC0000005", -1073741819},
    };
    for (const auto& [code, expected] : cases) {
        const Captured captured = run_capturing(request_of(probe_exe(), {ordinary(u"--exit"), ordinary(code)}), scratch);
        EXPECT_EQ(exit_code_of(captured.outcome), expected) << to_utf8(code);
    }
}

TEST(LauncherCommandLine, VerbatimDirectoryArrivesUnquotedAndLast) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string program = probe_exe();
    const Captured captured = run_capturing(
        request_of(program, {ordinary(u"/S"), ordinary(u"/UPDATE"), {u"/D=C:\\Program Files\\App", true}}), scratch);
    ASSERT_TRUE(captured.record.has_value());
    EXPECT_EQ(captured.record->command_line, L"\"" + wide(program) + L"\" /S /UPDATE /D=C:\\Program Files\\App");
    EXPECT_EQ(captured.record->argv,
              (std::vector<std::wstring>{wide(program), L"/S", L"/UPDATE", L"/D=C:\\Program", L"Files\\App"}));
}

TEST(LauncherCommandLine, NoArgumentsGiveTheQuotedProgramAlone) {
    const ScratchDirectory scratch(L"launch");
    const Captured captured = run_capturing(request_of(probe_exe()), scratch);
    ASSERT_TRUE(captured.record.has_value());
    EXPECT_EQ(captured.record->command_line, L"\"" + wide(probe_exe()) + L"\"");
}

std::u16string random_argument(std::mt19937& random) {
    static const std::u16string pieces[] = {
        u" ", u"\t", u"\"", u"\\", u"\\\\\\", u"a", u"Z9", u"\u65e5\u672c", u"\xD800", u"\xDC00", u"%", u"\"\"",
    };
    std::uniform_int_distribution<int> length(0, 6);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::u16string argument;
    for (int n = length(random); n > 0; --n) {
        argument += pieces[pick(random)];
    }
    return argument;
}

// The probe writes unpaired surrogates as U+FFFD, so the expectations do too.
TEST(LauncherCommandLine, GeneratedArgumentsReachTheChildUnchanged) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string program = probe_exe();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> count(1, 8);
    constexpr int lists = 300;
    for (int i = 0; i < lists; ++i) {
        LaunchRequest request = request_of(program);
        std::vector<std::wstring> expected_argv = {wide(program)};
        for (int n = count(random); n > 0; --n) {
            request.arguments.push_back(ordinary(random_argument(random)));
            expected_argv.push_back(as_recorded(request.arguments.back().text));
        }
        const std::u16string expected_command_line =
            std::get<std::u16string>(build_command_line(program, request.arguments));
        const Captured captured = run_capturing(request, scratch);
        ASSERT_EQ(exit_code_of(captured.outcome), 0);
        ASSERT_TRUE(captured.record.has_value());
        ASSERT_EQ(captured.record->command_line, as_recorded(expected_command_line));
        ASSERT_EQ(captured.record->argv, expected_argv) << to_utf8(expected_command_line);
    }
    std::printf("%d generated argument lists passed through real children\n", lists);
}

TEST(LauncherWorkingDirectory, GivenDirectoryReachesTheChildAndAbsentInheritsOurs) {
    const ScratchDirectory scratch(L"launch");
    const Captured given = run_capturing(request_of(probe_exe(), {}, u16(scratch.path()), 0), scratch);
    ASSERT_TRUE(given.record.has_value());
    EXPECT_EQ(given.record->directory, scratch.path());

    const Captured absent = run_capturing(request_of(probe_exe()), scratch);
    ASSERT_TRUE(absent.record.has_value());
    std::wstring ours(GetCurrentDirectoryW(0, nullptr), L'\0');
    ours.resize(GetCurrentDirectoryW(static_cast<DWORD>(ours.size()), ours.data()));
    EXPECT_EQ(absent.record->directory, ours);
}

TEST(LauncherWorkingDirectory, VerbatimDriveFormIsPassedInItsPlainForm) {
    const ScratchDirectory scratch(L"launch");
    const Captured captured = run_capturing(request_of(probe_exe(), {}, u"\\\\?\\" + u16(scratch.path()), 0), scratch);
    ASSERT_TRUE(captured.record.has_value());
    EXPECT_EQ(captured.record->directory, scratch.path());
}

TEST(LauncherWorkingDirectory, MissingDirectoryIsAnOsErrorAndNulIsRefused) {
    const ScratchDirectory scratch(L"launch");
    const LaunchError missing = error_of(run_and_wait(request_of(probe_exe(), {}, scratch / u"no such dir")));
    EXPECT_EQ(missing.kind, LaunchErrorKind::os);
    EXPECT_EQ(missing.os_code, static_cast<std::uint32_t>(ERROR_DIRECTORY));

    const LaunchError nul = error_of(run_and_wait(request_of(probe_exe(), {}, std::u16string(u"C:\\\0x", 5))));
    EXPECT_EQ(nul.kind, LaunchErrorKind::invalid_input);
    EXPECT_EQ(nul.message, nul_in_data_message);
}

// The relaunch: detached, in its own process group, in the application's directory, released at once.
TEST(LauncherStartAndRelease, ReturnsWhileTheChildStillRuns) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string app = scratch / u"app.exe";
    const std::u16string done = scratch / u"done.txt";
    place_probe(app, scratch / L"log.txt", L"", 3000, done);
    const std::optional<LaunchError> error =
        start_and_release(request_of(app, {}, u16(scratch.path()), DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP));
    ASSERT_FALSE(error.has_value()) << to_utf8(launch_error_text(*error));
    EXPECT_FALSE(exists(done)) << "start_and_release waited for the child";

    ASSERT_TRUE(wait_for_file(done));
    const std::optional<ProbeRecord> record = only_record(scratch / u"log.txt");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->command_line, L"\"" + wide(app) + L"\"");
    EXPECT_EQ(record->directory, scratch.path());
}

// Our child of that executable name, found in a process snapshot.
DWORD child_process_id(const std::u16string& exe_name) {
    DWORD child_id = 0;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == GetCurrentProcessId() && u16(entry.szExeFile) == exe_name) {
            child_id = entry.th32ProcessID;
        }
    }
    return child_id;
}

// Resumes every thread of a process; false when none could be resumed.
bool resume_threads(DWORD process_id) {
    bool resumed = false;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == process_id) {
            const UniqueHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
            resumed = resumed || (thread.valid() && ResumeThread(thread.get()) != static_cast<DWORD>(-1));
        }
    }
    return resumed;
}

// A child started suspended cannot write its file until its thread is resumed from outside. (Wine
// ignores priority-class flags, so suspension is the flag that shows here.)
TEST(LauncherCreationFlags, ExtraFlagsReachCreateProcess) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string name = u"suspended_probe.exe";
    const std::u16string ran = scratch / u"ran.txt";
    place_probe(scratch / name, scratch / L"log.txt", L"", 0, ran);
    ASSERT_FALSE(start_and_release(request_of(scratch / name, {}, std::nullopt, CREATE_SUSPENDED)).has_value());

    const DWORD child_id = child_process_id(name);
    ASSERT_NE(child_id, 0u);
    Sleep(500);
    EXPECT_FALSE(exists(ran)) << "the child ran although it was created suspended";
    if (!resume_threads(child_id)) {
        const UniqueHandle child(OpenProcess(PROCESS_TERMINATE, FALSE, child_id));
        (void)TerminateProcess(child.get(), 1);
        FAIL() << "the suspended child could not be resumed";
    }
    EXPECT_TRUE(wait_for_file(ran));
}

// A stale value (one a parent handed over but that names no handle) counts as missing: the launch
// still succeeds and the child gets no handle in that slot.
TEST(LauncherStdHandles, OursAreGivenAndMissingOrStaleOnesStayNull) {
    const HANDLE stale = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7FFFF0));
    for (const HANDLE input : {HANDLE{nullptr}, stale}) {
        const ScratchDirectory scratch(L"launch");
        const std::u16string capture = scratch / u"out.txt";
        {
            const UniqueHandle output = open_output_file(capture);
            ASSERT_TRUE(output.valid());
            const StdHandlesSwap swap(input, output.get(), INVALID_HANDLE_VALUE);
            EXPECT_EQ(exit_code_of(run_and_wait(request_of(probe_exe()))), 0);
        }
        const std::optional<ProbeRecord> record = only_record(capture);
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->std_flags, "010");
    }
}

TEST(LauncherStdHandles, NoneOfOursGivesTheChildNone) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string app = scratch / u"app.exe";
    place_probe(app, scratch / L"log.txt");
    {
        const StdHandlesSwap swap(nullptr, nullptr, nullptr);
        EXPECT_EQ(exit_code_of(run_and_wait(request_of(app, {}, std::nullopt, DETACHED_PROCESS))), 0);
    }
    const std::optional<ProbeRecord> record = only_record(scratch / u"log.txt");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->std_flags, "000");
}

// Copies of the probe named `name` in each search directory, each exiting with its own code. The
// test's own directory stands for the helper's.
struct SearchPlaces {
    std::u16string name = u"vlsearch" + u16(std::to_wstring(GetCurrentProcessId())) + u".exe";
    std::u16string own = u16(probe::own_directory()) + name;
    std::u16string system = system_directory().value + u"\\" + name;
    std::u16string windows = windows_directory().value + u"\\" + name;
    ScratchDirectory path_dir{L"launch"};
    std::u16string on_path = path_dir / name;
    SearchPlaces() = default;
    SearchPlaces(const SearchPlaces&) = delete;
    ~SearchPlaces() {
        for (const std::u16string& copy : {own, system, windows, on_path}) {
            remove_probe(copy);
        }
    }
};

TEST(LauncherProgramSearch, OwnDirectoryThenSystemThenWindowsThenPath) {
    if (!probe::running_under_wine()) {
        GTEST_SKIP() << "this test puts programs into the system and Windows directories, which only a private "
                        "Wine prefix may get";
    }
    const ScratchDirectory scratch(L"launch");
    const SearchPlaces places;
    place_probe(places.own, L"", L"11");
    place_probe(places.system, L"", L"12");
    place_probe(places.windows, L"", L"13");
    place_probe(places.on_path, L"", L"14");
    const PathSwap path(u16(places.path_dir.path()) + u";" + environment_variable(u"PATH").value);
    const std::u16string bare = places.name.substr(0, places.name.size() - 4);

    const Captured first = run_capturing(request_of(bare), scratch);
    EXPECT_EQ(exit_code_of(first.outcome), 11);
    ASSERT_TRUE(first.record.has_value());
    EXPECT_EQ(first.record->command_line, L"\"" + wide(bare) + L"\"");
    remove_probe(places.own);
    EXPECT_EQ(exit_code_of(run_capturing(request_of(bare), scratch).outcome), 12);
    remove_probe(places.system);
    EXPECT_EQ(exit_code_of(run_capturing(request_of(bare), scratch).outcome), 13);
    remove_probe(places.windows);
    EXPECT_EQ(exit_code_of(run_capturing(request_of(places.name), scratch).outcome), 14);
    remove_probe(places.on_path);
    const LaunchError gone = error_of(run_and_wait(request_of(bare)));
    EXPECT_EQ(gone.kind, LaunchErrorKind::not_found);
    EXPECT_EQ(gone.message, u"program not found");
}

TEST(LauncherProgramSearch, CurrentDirectoryOnlyCountsThroughPath) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string bare = u"vlcwd" + u16(std::to_wstring(GetCurrentProcessId()));
    place_probe(scratch / (bare + u".exe"), L"", L"15");
    const probe::CurrentDirectorySwap in_scratch(scratch.path());
    ASSERT_TRUE(in_scratch.changed());

    EXPECT_EQ(error_of(run_and_wait(request_of(bare))).message, u"program not found");
    const PathSwap path(u".;" + environment_variable(u"PATH").value);
    EXPECT_EQ(exit_code_of(run_capturing(request_of(bare), scratch).outcome), 15);
}

TEST(LauncherProgramSearch, NameWithADotIsSearchedWithoutExe) {
    const ScratchDirectory scratch(L"launch");
    const ScratchDirectory path_dir(L"launch");
    const PathSwap path(u16(path_dir.path()));
    const std::u16string name = u"vltool" + u16(std::to_wstring(GetCurrentProcessId())) + u".old";
    place_probe(path_dir / (name + u".exe"), L"", L"21");
    EXPECT_EQ(error_of(run_and_wait(request_of(name))).message, u"program not found");

    place_probe(path_dir / name, L"", L"22");
    EXPECT_EQ(exit_code_of(run_capturing(request_of(name), scratch).outcome), 22);
}

// Windows refuses to run a directory with "access denied", Wine with "invalid handle": the text is
// whatever the system says, in the form of every OS error.
TEST(LauncherProgramSearch, DirectoryNamedLikeTheProgramIsMatchedAndFailsToStart) {
    const ScratchDirectory path_dir(L"launch");
    const std::u16string bare = u"vldir" + u16(std::to_wstring(GetCurrentProcessId()));
    const std::u16string decoy = u16(probe::own_directory()) + bare + u".exe";
    ASSERT_TRUE(CreateDirectoryW(wide(decoy).c_str(), nullptr));
    place_probe(path_dir / (bare + u".exe"));
    const PathSwap path(u16(path_dir.path()));

    const LaunchError error = error_of(run_and_wait(request_of(bare)));
    RemoveDirectoryW(wide(decoy).c_str());
    EXPECT_EQ(error.kind, LaunchErrorKind::os);
    EXPECT_NE(error.os_code, 0u);
    const std::u16string suffix = u" (os error " + decimal(static_cast<std::int32_t>(error.os_code)) + u")";
    (void)message_before(launch_error_text(error), suffix);
}

// The file a caller checked is the file that runs: no ".exe" is tried beside a path.
TEST(LauncherProgramPath, PathStartsExactlyThatFile) {
    const ScratchDirectory scratch(L"launch");
    ASSERT_TRUE(CreateDirectoryW((scratch / L"sub").c_str(), nullptr));
    place_probe(scratch / u"sub\\tool.exe", L"", L"31");
    place_probe(scratch / u"sub\\tool", L"", L"32");
    place_probe(scratch / u"sub\\only.exe", L"", L"33");
    const probe::CurrentDirectorySwap in_scratch(scratch.path());
    ASSERT_TRUE(in_scratch.changed());

    const Captured tool = run_capturing(request_of(u"sub\\tool"), scratch);
    EXPECT_EQ(exit_code_of(tool.outcome), 32);
    ASSERT_TRUE(tool.record.has_value());
    EXPECT_EQ(tool.record->command_line, L"\"sub\\tool\"");
    EXPECT_EQ(error_of(run_and_wait(request_of(u"sub/only"))).kind, LaunchErrorKind::os);
}

TEST(LauncherProgramPath, VerbatimAndNearlyLongPathsStart) {
    const ScratchDirectory scratch(L"launch");
    const Captured verbatim =
        run_capturing(request_of(u"\\\\?\\" + probe_exe(), {ordinary(u"--exit"), ordinary(u"8")}), scratch);
    EXPECT_EQ(exit_code_of(verbatim.outcome), 8);
    ASSERT_TRUE(verbatim.record.has_value());
    EXPECT_EQ(verbatim.record->command_line, L"\"\\\\?\\" + wide(probe_exe()) + L"\" --exit 8");

    // 250 units: made absolute and given the verbatim prefix before CreateProcessW sees it.
    const std::u16string directory = scratch / std::u16string(100, u'd');
    ASSERT_TRUE(CreateDirectoryW(wide(directory).c_str(), nullptr));
    const std::u16string program = directory + u"\\" + std::u16string(250 - directory.size() - 5, u'p') + u".exe";
    ASSERT_EQ(program.size(), 250u);
    ASSERT_TRUE(CopyFileW(wide(probe_exe()).c_str(), wide(u"\\\\?\\" + program).c_str(), FALSE));
    EXPECT_EQ(exit_code_of(run_capturing(request_of(program, {ordinary(u"--exit"), ordinary(u"9")}), scratch).outcome), 9);
}

TEST(LauncherProgramPath, BadProgramTextFailsBeforeAnySearch) {
    const std::pair<std::u16string, std::u16string_view> cases[] = {
        {u"", no_file_name_message},
        {u"C:\\dir\\", no_file_name_message},
        {u"dir/", no_file_name_message},
        {std::u16string(u"no\0de", 5), nul_in_data_message},
        {std::u16string(u"C:\\x\\no\0de", 10), nul_in_path_message},
    };
    for (const auto& [program, message] : cases) {
        const LaunchError error = error_of(run_and_wait(request_of(program)));
        EXPECT_EQ(error.kind, LaunchErrorKind::invalid_input);
        EXPECT_EQ(error.message, message) << to_utf8(program);
    }
}

TEST(LauncherFailures, NulInAnArgumentStartsNothing) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string app = scratch / u"app.exe";
    const std::u16string ran = scratch / u"ran.txt";
    place_probe(app, scratch / L"log.txt", L"", 0, ran);

    const LaunchError error =
        error_of(run_and_wait(request_of(app, {ordinary(u"ok"), ordinary(std::u16string(u"a\0b", 3))})));
    EXPECT_EQ(error.message, nul_in_data_message);
    EXPECT_FALSE(exists(ran));
    EXPECT_EQ(exit_code_of(run_and_wait(request_of(app, {ordinary(u"ok")}))), 0);
    EXPECT_TRUE(exists(ran));
}

// The script records what it received next to itself and exits with 7.
const char batch_script[] =
    "@echo off\r\n"
    ">\"%~dp0args.txt\" echo [%~1][%~2][%3][%4]\r\n"
    "exit /b 7\r\n";

// The script's record of its arguments after running it with `arguments`; nothing when it did not
// exit with its own code.
std::string run_script(const ScratchDirectory& scratch, std::u16string_view name,
                       std::vector<ArgumentEntry> arguments) {
    const std::u16string script = scratch / name;
    EXPECT_TRUE(probe::write_bytes(wide(script), batch_script));
    EXPECT_EQ(exit_code_of(run_and_wait(request_of(script, std::move(arguments)))), 7);
    return probe::read_bytes(scratch / L"args.txt");
}

TEST(LauncherBatchScript, BatScriptRunsThroughCmdAndReceivesItsArguments) {
    const ScratchDirectory scratch(L"launch");
    EXPECT_EQ(run_script(scratch, u"run.bat", {ordinary(u"/S"), ordinary(u"a b"), ordinary(u"x\"y"), ordinary(u"c&d")}),
              "[/S][a b][\"x\"\"y\"][\"c&d\"]\r\n");
}

TEST(LauncherBatchScript, PercentSignArrivesLiterally) {
    const ScratchDirectory scratch(L"launch");
    const std::string received = run_script(scratch, u"pct.bat", {ordinary(u"50%"), ordinary(u"%PATH%")});
    if (probe::running_under_wine()) {
        GTEST_SKIP() << "Wine's cmd.exe does not expand %cd:~,% to an empty text; the script received " << received;
    }
    EXPECT_EQ(received, "[50%][%PATH%][][]\r\n");
}

TEST(LauncherBatchScript, UpperCaseCmdScriptIsAScriptToo) {
    const ScratchDirectory scratch(L"launch");
    EXPECT_EQ(run_script(scratch, u"RUN.CMD", {ordinary(u"one"), ordinary(u"two words")}), "[one][two words][][]\r\n");
}

TEST(LauncherBatchScript, LineBreakInAnArgumentStartsNothing) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string script = scratch / u"run.bat";
    ASSERT_TRUE(probe::write_bytes(wide(script), batch_script));
    for (const std::u16string_view bad : {u"a\nb", u"a\rb"}) {
        const LaunchError error = error_of(run_and_wait(request_of(script, {ordinary(std::u16string(bad))})));
        EXPECT_EQ(error.kind, LaunchErrorKind::invalid_input);
        EXPECT_EQ(error.message, u"batch file arguments are invalid");
    }
    EXPECT_EQ(error_of(run_and_wait(request_of(script, {ordinary(std::u16string(u"a\0b", 3))}))).message,
              nul_in_data_message);
    EXPECT_FALSE(exists(scratch / u"args.txt"));
}

TEST(LauncherOsErrorText, KnownCodesCarryTheSystemMessage) {
    const std::pair<std::uint32_t, std::u16string_view> cases[] = {
        {2, u" (os error 2)"}, {5, u" (os error 5)"}, {193, u" (os error 193)"}, {267, u" (os error 267)"}};
    for (const auto& [code, suffix] : cases) {
        // Not the text made when FormatMessageW fails.
        EXPECT_EQ(message_before(os_error_text(code), suffix).find(u"FormatMessageW"), std::u16string::npos);
        EXPECT_EQ(message_before(launch_error_text(os_error(code)), suffix).find(u"FormatMessageW"),
                  std::u16string::npos);
    }
}

// ERROR_MR_MID_NOT_FOUND: no system has a message for 12345.
TEST(LauncherOsErrorText, UnknownCodeNamesTheFormatMessageFailure) {
    EXPECT_EQ(os_error_text(12345), u"OS Error 12345 (FormatMessageW() returned error 317) (os error 12345)");
}

// The code is looked up in ntdll's messages without bit 28. Windows has a text for 0xC0000005 there;
// Wine's ntdll has no message table, and the failure then names the code it looked up.
TEST(LauncherOsErrorText, NtStatusWithBit28IsLookedUpInNtdll) {
    const std::u16string message = message_before(os_error_text(0xD0000005), u" (os error -805306363)");
    if (message.rfind(u"OS Error ", 0) == 0) {
        EXPECT_EQ(message.rfind(u"OS Error -1073741819 (FormatMessageW() returned error ", 0), 0u) << to_utf8(message);
    }
}

TEST(LauncherOsErrorText, FixedErrorsShowTheirMessageAlone) {
    EXPECT_EQ(launch_error_text(fixed_error(LaunchErrorKind::not_found, program_not_found_message)),
              u"program not found");
}

// The open handles of the kinds a launch makes: processes, threads of other processes, and files or
// devices (the inheritable copies of the standard handles). Found by asking the system about every
// possible handle value, as Wine's GetProcessHandleCount always reports 0. Other kinds are left
// out: under load Wine itself now and then opens a handle to a thread of this process and keeps
// the debug-output mutex open, and neither is the launcher's.
std::vector<ULONG_PTR> launch_kind_handles() {
    std::vector<ULONG_PTR> found;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (!GetHandleInformation(handle, &flags)) {
            continue;
        }
        const DWORD thread_owner = GetThreadId(handle) != 0 ? GetProcessIdOfThread(handle) : 0;
        SetLastError(NO_ERROR);
        const bool file = GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
        if (GetProcessId(handle) != 0 || (thread_owner != 0 && thread_owner != GetCurrentProcessId()) || file) {
            found.push_back(value);
        }
    }
    return found;
}

TEST(LauncherHandles, NoHandleOutlivesAnyKindOfLaunch) {
    const ScratchDirectory scratch(L"launch");
    const std::u16string decoy = scratch / u"decoy.exe";
    ASSERT_TRUE(CreateDirectoryW(wide(decoy).c_str(), nullptr));
    const UniqueHandle null_device(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(null_device.valid());
    constexpr int rounds = 200;
    int launches = 0;
    {
        const StdHandlesSwap swap(GetStdHandle(STD_INPUT_HANDLE), null_device.get(), null_device.get());
        const auto one_of_each = [&] {
            EXPECT_EQ(exit_code_of(run_and_wait(request_of(probe_exe(), {ordinary(u"--exit"), ordinary(u"3")}))), 3);
            EXPECT_FALSE(start_and_release(request_of(probe_exe())).has_value());
            EXPECT_EQ(error_of(run_and_wait(request_of(decoy))).kind, LaunchErrorKind::os);
            EXPECT_EQ(error_of(run_and_wait(request_of(probe_exe(), {}, scratch / u"missing", 0))).kind,
                      LaunchErrorKind::os);
            EXPECT_EQ(error_of(run_and_wait(request_of(u"vl-no-such-program"))).kind, LaunchErrorKind::not_found);
            launches += 5;
        };
        one_of_each();
        const std::vector<ULONG_PTR> before = launch_kind_handles();
        for (int i = 0; i < rounds; ++i) {
            one_of_each();
        }
        EXPECT_EQ(launch_kind_handles(), before);
    }
    std::printf("%d launches (successful, released, failed in CreateProcessW, not found) left no handle open\n",
                launches);
}

}  // namespace
}  // namespace vellomar
