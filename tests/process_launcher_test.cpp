// The launcher against real children: child_probe.exe (built beside this test) reports its raw
// command line, argv, current directory and standard handles, and exits with a chosen code.
#include "platform/process_launcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "platform/win32.h"
// After win32.h: it needs the Win32 types.
#include <tlhelp32.h>

#include "platform/win32_queries.h"
#include "probe_support.h"
#include "core/text.h"

namespace vellomar {
namespace {

using probe::u16;

std::u16string probe_exe() { return u16(probe::own_directory()) + u"child_probe.exe"; }

bool running_under_wine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

void write_bytes(const std::u16string& path, const std::string& bytes) {
    const HANDLE file =
        CreateFileW(probe::wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << to_utf8(path);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

std::optional<std::string> read_bytes(const std::u16string& path) {
    const HANDLE file = CreateFileW(probe::wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string content;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        content.append(chunk, got);
    }
    CloseHandle(file);
    return content;
}

bool path_exists(const std::u16string& path) {
    return GetFileAttributesW(probe::wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void remove_tree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring full = path + L"\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                remove_tree(full);
            } else {
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

// A scratch directory, removed with its content at the end of the test (children that still run
// from it are given a few seconds to finish).
struct TempDir {
    std::u16string path = u16(probe::make_temp_directory(L"launch"));
    TempDir(const TempDir&) = delete;
    TempDir() = default;
    ~TempDir() {
        for (int attempt = 0; attempt < 50 && path_exists(path); ++attempt) {
            remove_tree(probe::wide(path));
            if (path_exists(path)) {
                Sleep(100);
            }
        }
    }
    std::u16string operator/(std::u16string_view name) const { return path + u"\\" + std::u16string(name); }
};

// A copy of the probe at `path`, configured by `path.probe` when `config` is not empty.
void place_probe(const std::u16string& path, const std::string& config = {}) {
    ASSERT_TRUE(CopyFileW(probe::wide(probe_exe()).c_str(), probe::wide(path).c_str(), FALSE))
        << to_utf8(path) << " error " << GetLastError();
    if (!config.empty()) {
        write_bytes(path + u".probe", config);
    }
}

void remove_probe(const std::u16string& path) {
    DeleteFileW(probe::wide(path).c_str());
    DeleteFileW(probe::wide(path + u".probe").c_str());
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

HANDLE open_output_file(const std::u16string& path) {
    return CreateFileW(probe::wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One record of the probe: `run n TAB ms TAB command line TAB directory TAB std=xyz TAB argv`.
// Only the command line and argv may hold TABs; test data never holds "std=".
struct Record {
    std::string run;
    std::string command_line;
    std::string directory;
    std::string std_flags;
    std::string argv;
};

std::optional<Record> parse_record(std::string text) {
    if (text.empty() || text.back() != '\n') {
        return std::nullopt;
    }
    text.pop_back();
    const std::size_t run_end = text.find('\t');
    const std::size_t time_end = text.find('\t', run_end + 1);
    const std::size_t std_start = text.find("\tstd=", time_end);
    if (run_end == std::string::npos || time_end == std::string::npos || std_start == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t directory_start = text.rfind('\t', std_start - 1);
    Record record;
    record.run = text.substr(0, run_end);
    record.command_line = text.substr(time_end + 1, directory_start - time_end - 1);
    record.directory = text.substr(directory_start + 1, std_start - directory_start - 1);
    record.std_flags = text.substr(std_start + 5, 3);
    record.argv = text.substr(std_start + 9);
    return record;
}

struct Captured {
    std::variant<std::int32_t, LaunchError> outcome;
    std::optional<Record> record;
};

// run_and_wait with the test's standard output sent to a file, where the probe writes its record.
Captured run_capturing(const LaunchRequest& request, const TempDir& scratch) {
    const std::u16string capture = scratch / u"stdout.txt";
    Captured captured{std::int32_t{0}, std::nullopt};
    {
        const HANDLE output = open_output_file(capture);
        EXPECT_NE(output, INVALID_HANDLE_VALUE);
        const StdHandlesSwap swap(GetStdHandle(STD_INPUT_HANDLE), output, GetStdHandle(STD_ERROR_HANDLE));
        captured.outcome = run_and_wait(request);
        CloseHandle(output);
    }
    if (const std::optional<std::string> text = read_bytes(capture)) {
        captured.record = parse_record(*text);
    }
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

std::string join_argv(const std::vector<std::u16string>& arguments) {
    std::string joined;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        joined += (i > 0 ? "\x1F" : "") + to_utf8(arguments[i]);
    }
    return joined;
}

std::u16string current_directory() {
    std::wstring buffer(GetCurrentDirectoryW(0, nullptr), L'\0');
    buffer.resize(GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data()));
    return u16(buffer);
}

struct CurrentDirectorySwap {
    std::u16string saved = current_directory();
    explicit CurrentDirectorySwap(const std::u16string& directory) {
        EXPECT_TRUE(SetCurrentDirectoryW(probe::wide(directory).c_str()));
    }
    CurrentDirectorySwap(const CurrentDirectorySwap&) = delete;
    ~CurrentDirectorySwap() { SetCurrentDirectoryW(probe::wide(saved).c_str()); }
};

struct PathSwap {
    OsResult<std::u16string> saved = environment_variable(u"PATH");
    explicit PathSwap(const std::u16string& value) { SetEnvironmentVariableW(L"PATH", probe::wide(value).c_str()); }
    PathSwap(const PathSwap&) = delete;
    ~PathSwap() { SetEnvironmentVariableW(L"PATH", saved.ok() ? probe::wide(saved.value).c_str() : nullptr); }
};

bool wait_for_file(const std::u16string& path, DWORD timeout_ms) {
    const ULONGLONG start = GetTickCount64();
    while (!path_exists(path)) {
        if (GetTickCount64() - start > timeout_ms) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

ArgumentEntry ordinary(std::u16string text) { return {std::move(text), false}; }

LaunchRequest request_of(std::u16string program, std::vector<ArgumentEntry> arguments = {},
                         std::optional<std::u16string> directory = std::nullopt, std::uint32_t flags = 0) {
    return {std::move(program), std::move(arguments), std::move(directory), flags};
}

TEST(LauncherExitCode, RunAndWaitReturnsTheExitCodeWithTheSameBits) {
    const TempDir scratch;
    const std::pair<std::u16string, std::int32_t> cases[] = {
        {u"0", 0}, {u"1", 1}, {u"-1", -1}, {u"0xFFFFFFFF", -1}, {u"0xC0000005", -1073741819},
    };
    for (const auto& [code, expected] : cases) {
        const Captured captured = run_capturing(request_of(probe_exe(), {ordinary(u"--exit"), ordinary(code)}), scratch);
        EXPECT_EQ(exit_code_of(captured.outcome), expected) << to_utf8(code);
    }
}

TEST(LauncherCommandLine, VerbatimDirectoryArrivesUnquotedAndLast) {
    const TempDir scratch;
    const std::u16string program = probe_exe();
    const Captured captured = run_capturing(
        request_of(program, {ordinary(u"/S"), ordinary(u"/UPDATE"), {u"/D=C:\\Program Files\\App", true}}), scratch);
    ASSERT_TRUE(captured.record.has_value());
    EXPECT_EQ(captured.record->command_line, "\"" + to_utf8(program) + "\" /S /UPDATE /D=C:\\Program Files\\App");
    EXPECT_EQ(captured.record->argv, join_argv({program, u"/S", u"/UPDATE", u"/D=C:\\Program", u"Files\\App"}));
}

TEST(LauncherCommandLine, NoArgumentsGiveTheQuotedProgramAlone) {
    const TempDir scratch;
    const Captured captured = run_capturing(request_of(probe_exe()), scratch);
    ASSERT_TRUE(captured.record.has_value());
    EXPECT_EQ(captured.record->command_line, "\"" + to_utf8(probe_exe()) + "\"");
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

// The probe writes unpaired surrogates as U+FFFD, so both sides are compared as UTF-8.
TEST(LauncherCommandLine, GeneratedArgumentsReachTheChildUnchanged) {
    const TempDir scratch;
    const std::u16string program = probe_exe();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> count(1, 8);
    constexpr int lists = 300;
    for (int i = 0; i < lists; ++i) {
        LaunchRequest request = request_of(program);
        std::vector<std::u16string> expected_argv = {program};
        for (int n = count(random); n > 0; --n) {
            request.arguments.push_back(ordinary(random_argument(random)));
            expected_argv.push_back(request.arguments.back().text);
        }
        const std::u16string expected_command_line =
            std::get<std::u16string>(build_command_line(program, request.arguments));
        const Captured captured = run_capturing(request, scratch);
        ASSERT_EQ(exit_code_of(captured.outcome), 0);
        ASSERT_TRUE(captured.record.has_value());
        ASSERT_EQ(captured.record->command_line, to_utf8(expected_command_line));
        ASSERT_EQ(captured.record->argv, join_argv(expected_argv)) << to_utf8(expected_command_line);
    }
    std::printf("%d generated argument lists passed through real children\n", lists);
}

TEST(LauncherWorkingDirectory, GivenDirectoryReachesTheChildAndAbsentInheritsOurs) {
    const TempDir scratch;
    const Captured given = run_capturing(request_of(probe_exe(), {}, scratch.path, 0), scratch);
    ASSERT_TRUE(given.record.has_value());
    EXPECT_EQ(given.record->directory, to_utf8(scratch.path));

    const Captured absent = run_capturing(request_of(probe_exe()), scratch);
    ASSERT_TRUE(absent.record.has_value());
    EXPECT_EQ(absent.record->directory, to_utf8(current_directory()));
}

TEST(LauncherWorkingDirectory, VerbatimDriveFormIsPassedInItsPlainForm) {
    const TempDir scratch;
    const Captured captured = run_capturing(request_of(probe_exe(), {}, u"\\\\?\\" + scratch.path, 0), scratch);
    ASSERT_TRUE(captured.record.has_value());
    EXPECT_EQ(captured.record->directory, to_utf8(scratch.path));
}

TEST(LauncherWorkingDirectory, MissingDirectoryIsAnOsErrorAndNulIsRefused) {
    const TempDir scratch;
    const LaunchError missing = error_of(run_and_wait(request_of(probe_exe(), {}, scratch / u"no such dir")));
    EXPECT_EQ(missing.kind, LaunchErrorKind::os);
    EXPECT_EQ(missing.os_code, static_cast<std::uint32_t>(ERROR_DIRECTORY));

    const LaunchError nul = error_of(run_and_wait(request_of(probe_exe(), {}, std::u16string(u"C:\\\0x", 5))));
    EXPECT_EQ(nul.kind, LaunchErrorKind::invalid_input);
    EXPECT_EQ(nul.message, nul_in_data_message);
}

// The relaunch: detached, in its own process group, in the application's directory, released at once.
TEST(LauncherStartAndRelease, ReturnsWhileTheChildStillRuns) {
    const TempDir scratch;
    const std::u16string app = scratch / u"app.exe";
    const std::u16string done = scratch / u"done.txt";
    place_probe(app, "log=" + to_utf8(scratch / u"log.txt") + "\nsleep_ms=3000\nwrite_file=" + to_utf8(done) + "\n");
    const std::optional<LaunchError> error =
        start_and_release(request_of(app, {}, scratch.path, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP));
    ASSERT_FALSE(error.has_value()) << to_utf8(launch_error_text(*error));
    EXPECT_FALSE(path_exists(done)) << "start_and_release waited for the child";

    ASSERT_TRUE(wait_for_file(done, 30000));
    const std::optional<Record> record = parse_record(read_bytes(scratch / u"log.txt").value_or(""));
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->command_line, "\"" + to_utf8(app) + "\"");
    EXPECT_EQ(record->directory, to_utf8(scratch.path));
}

// Our child of that executable name, found in a process snapshot.
DWORD child_process_id(const std::u16string& exe_name) {
    DWORD child_id = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == GetCurrentProcessId() && u16(entry.szExeFile) == exe_name) {
            child_id = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return child_id;
}

// Resumes every thread of a process; false when none could be resumed.
bool resume_threads(DWORD process_id) {
    bool resumed = false;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == process_id) {
            const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
            resumed = resumed || (thread != nullptr && ResumeThread(thread) != static_cast<DWORD>(-1));
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
    return resumed;
}

// A child started suspended cannot write its file until its thread is resumed from outside. (Wine
// ignores priority-class flags, so suspension is the flag that shows here.)
TEST(LauncherCreationFlags, ExtraFlagsReachCreateProcess) {
    const TempDir scratch;
    const std::u16string name = u"suspended_probe.exe";
    const std::u16string ran = scratch / u"ran.txt";
    place_probe(scratch / name, "log=" + to_utf8(scratch / u"log.txt") + "\nwrite_file=" + to_utf8(ran) + "\n");
    ASSERT_FALSE(start_and_release(request_of(scratch / name, {}, std::nullopt, CREATE_SUSPENDED)).has_value());

    const DWORD child_id = child_process_id(name);
    ASSERT_NE(child_id, 0u);
    Sleep(500);
    EXPECT_FALSE(path_exists(ran)) << "the child ran although it was created suspended";
    if (!resume_threads(child_id)) {
        const HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, child_id);
        TerminateProcess(child, 1);
        CloseHandle(child);
        FAIL() << "the suspended child could not be resumed";
    }
    EXPECT_TRUE(wait_for_file(ran, 30000));
}

// A stale value (one a parent handed over but that names no handle) counts as missing: the launch
// still succeeds and the child gets no handle in that slot.
TEST(LauncherStdHandles, OursAreGivenAndMissingOrStaleOnesStayNull) {
    const HANDLE stale = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7FFFF0));
    for (const HANDLE input : {HANDLE{nullptr}, stale}) {
        const TempDir scratch;
        const std::u16string capture = scratch / u"out.txt";
        const HANDLE output = open_output_file(capture);
        ASSERT_NE(output, INVALID_HANDLE_VALUE);
        {
            const StdHandlesSwap swap(input, output, INVALID_HANDLE_VALUE);
            EXPECT_EQ(exit_code_of(run_and_wait(request_of(probe_exe()))), 0);
        }
        CloseHandle(output);
        const std::optional<Record> record = parse_record(read_bytes(capture).value_or(""));
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->std_flags, "010");
    }
}

TEST(LauncherStdHandles, NoneOfOursGivesTheChildNone) {
    const TempDir scratch;
    const std::u16string app = scratch / u"app.exe";
    place_probe(app, "log=" + to_utf8(scratch / u"log.txt") + "\n");
    {
        const StdHandlesSwap swap(nullptr, nullptr, nullptr);
        EXPECT_EQ(exit_code_of(run_and_wait(request_of(app, {}, std::nullopt, DETACHED_PROCESS))), 0);
    }
    const std::optional<Record> record = parse_record(read_bytes(scratch / u"log.txt").value_or(""));
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
    TempDir path_dir;
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
    const TempDir scratch;
    const SearchPlaces places;
    if (!CopyFileW(probe::wide(probe_exe()).c_str(), probe::wide(places.system).c_str(), FALSE)) {
        GTEST_SKIP() << "the system directory is not writable here (error " << GetLastError() << ")";
    }
    place_probe(places.own, "exit_codes=11\n");
    place_probe(places.system, "exit_codes=12\n");
    place_probe(places.windows, "exit_codes=13\n");
    place_probe(places.on_path, "exit_codes=14\n");
    const PathSwap path(places.path_dir.path + u";" + environment_variable(u"PATH").value);
    const std::u16string bare = places.name.substr(0, places.name.size() - 4);

    const Captured first = run_capturing(request_of(bare), scratch);
    EXPECT_EQ(exit_code_of(first.outcome), 11);
    ASSERT_TRUE(first.record.has_value());
    EXPECT_EQ(first.record->command_line, "\"" + to_utf8(bare) + "\"");
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
    const TempDir scratch;
    const std::u16string bare = u"vlcwd" + u16(std::to_wstring(GetCurrentProcessId()));
    place_probe(scratch / (bare + u".exe"), "exit_codes=15\n");
    const CurrentDirectorySwap in_scratch(scratch.path);

    EXPECT_EQ(error_of(run_and_wait(request_of(bare))).message, u"program not found");
    const PathSwap path(u".;" + environment_variable(u"PATH").value);
    EXPECT_EQ(exit_code_of(run_capturing(request_of(bare), scratch).outcome), 15);
}

TEST(LauncherProgramSearch, NameWithADotIsSearchedWithoutExe) {
    const TempDir scratch;
    const TempDir path_dir;
    const PathSwap path(path_dir.path);
    const std::u16string name = u"vltool" + u16(std::to_wstring(GetCurrentProcessId())) + u".old";
    place_probe(path_dir / (name + u".exe"), "exit_codes=21\n");
    EXPECT_EQ(error_of(run_and_wait(request_of(name))).message, u"program not found");

    place_probe(path_dir / name, "exit_codes=22\n");
    EXPECT_EQ(exit_code_of(run_capturing(request_of(name), scratch).outcome), 22);
}

TEST(LauncherProgramSearch, DirectoryNamedLikeTheProgramIsMatchedAndFailsToStart) {
    const TempDir path_dir;
    const std::u16string bare = u"vldir" + u16(std::to_wstring(GetCurrentProcessId()));
    const std::u16string decoy = u16(probe::own_directory()) + bare + u".exe";
    ASSERT_TRUE(CreateDirectoryW(probe::wide(decoy).c_str(), nullptr));
    place_probe(path_dir / (bare + u".exe"));
    const PathSwap path(path_dir.path);

    const LaunchError error = error_of(run_and_wait(request_of(bare)));
    RemoveDirectoryW(probe::wide(decoy).c_str());
    EXPECT_EQ(error.kind, LaunchErrorKind::os);
    EXPECT_NE(error.os_code, 0u);
    EXPECT_EQ(launch_error_text(error), os_error_text(error.os_code));
}

// The file a caller checked is the file that runs: no ".exe" is tried beside a path.
TEST(LauncherProgramPath, PathStartsExactlyThatFile) {
    const TempDir scratch;
    ASSERT_TRUE(CreateDirectoryW(probe::wide(scratch / u"sub").c_str(), nullptr));
    place_probe(scratch / u"sub\\tool.exe", "exit_codes=31\n");
    place_probe(scratch / u"sub\\tool", "exit_codes=32\n");
    place_probe(scratch / u"sub\\only.exe", "exit_codes=33\n");
    const CurrentDirectorySwap in_scratch(scratch.path);

    const Captured tool = run_capturing(request_of(u"sub\\tool"), scratch);
    EXPECT_EQ(exit_code_of(tool.outcome), 32);
    ASSERT_TRUE(tool.record.has_value());
    EXPECT_EQ(tool.record->command_line, "\"sub\\tool\"");
    EXPECT_EQ(error_of(run_and_wait(request_of(u"sub/only"))).kind, LaunchErrorKind::os);
}

TEST(LauncherProgramPath, VerbatimAndNearlyLongPathsStart) {
    const TempDir scratch;
    const Captured verbatim =
        run_capturing(request_of(u"\\\\?\\" + probe_exe(), {ordinary(u"--exit"), ordinary(u"8")}), scratch);
    EXPECT_EQ(exit_code_of(verbatim.outcome), 8);
    ASSERT_TRUE(verbatim.record.has_value());
    EXPECT_EQ(verbatim.record->command_line, "\"\\\\?\\" + to_utf8(probe_exe()) + "\" --exit 8");

    // 250 units: made absolute and given the verbatim prefix before CreateProcessW sees it.
    const std::u16string directory = scratch.path + u"\\" + std::u16string(100, u'd');
    ASSERT_TRUE(CreateDirectoryW(probe::wide(directory).c_str(), nullptr));
    const std::u16string program = directory + u"\\" + std::u16string(250 - directory.size() - 5, u'p') + u".exe";
    ASSERT_EQ(program.size(), 250u);
    ASSERT_TRUE(CopyFileW(probe::wide(probe_exe()).c_str(), probe::wide(u"\\\\?\\" + program).c_str(), FALSE));
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
    const TempDir scratch;
    const std::u16string app = scratch / u"app.exe";
    const std::u16string ran = scratch / u"ran.txt";
    place_probe(app, "log=" + to_utf8(scratch / u"log.txt") + "\nwrite_file=" + to_utf8(ran) + "\n");

    const LaunchError error =
        error_of(run_and_wait(request_of(app, {ordinary(u"ok"), ordinary(std::u16string(u"a\0b", 3))})));
    EXPECT_EQ(error.message, nul_in_data_message);
    EXPECT_FALSE(path_exists(ran));
    EXPECT_EQ(exit_code_of(run_and_wait(request_of(app, {ordinary(u"ok")}))), 0);
    EXPECT_TRUE(path_exists(ran));
}

// The script records what it received next to itself and exits with 7.
const char batch_script[] =
    "@echo off\r\n"
    ">\"%~dp0args.txt\" echo [%~1][%~2][%3][%4]\r\n"
    "exit /b 7\r\n";

TEST(LauncherBatchScript, BatScriptRunsThroughCmdAndReceivesItsArguments) {
    const TempDir scratch;
    const std::u16string script = scratch / u"run.bat";
    write_bytes(script, batch_script);
    const std::variant<std::int32_t, LaunchError> outcome =
        run_and_wait(request_of(script, {ordinary(u"/S"), ordinary(u"a b"), ordinary(u"x\"y"), ordinary(u"c&d")}));
    EXPECT_EQ(exit_code_of(outcome), 7);
    EXPECT_EQ(read_bytes(scratch / u"args.txt").value_or(""), "[/S][a b][\"x\"\"y\"][\"c&d\"]\r\n");
}

TEST(LauncherBatchScript, PercentSignArrivesLiterally) {
    const TempDir scratch;
    const std::u16string script = scratch / u"pct.bat";
    write_bytes(script, batch_script);
    EXPECT_EQ(exit_code_of(run_and_wait(request_of(script, {ordinary(u"50%"), ordinary(u"%PATH%")}))), 7);
    const std::string received = read_bytes(scratch / u"args.txt").value_or("");
    if (running_under_wine()) {
        GTEST_SKIP() << "Wine's cmd.exe does not expand %cd:~,% to an empty text; the script received " << received;
    }
    EXPECT_EQ(received, "[50%][%PATH%][][]\r\n");
}

TEST(LauncherBatchScript, UpperCaseCmdScriptIsAScriptToo) {
    const TempDir scratch;
    const std::u16string script = scratch / u"RUN.CMD";
    write_bytes(script, batch_script);
    EXPECT_EQ(exit_code_of(run_and_wait(request_of(script, {ordinary(u"one"), ordinary(u"two words")}))), 7);
    EXPECT_EQ(read_bytes(scratch / u"args.txt").value_or(""), "[one][two words][][]\r\n");
}

TEST(LauncherBatchScript, LineBreakInAnArgumentStartsNothing) {
    const TempDir scratch;
    const std::u16string script = scratch / u"run.bat";
    write_bytes(script, batch_script);
    for (const std::u16string_view bad : {u"a\nb", u"a\rb"}) {
        const LaunchError error = error_of(run_and_wait(request_of(script, {ordinary(std::u16string(bad))})));
        EXPECT_EQ(error.kind, LaunchErrorKind::invalid_input);
        EXPECT_EQ(error.message, u"batch file arguments are invalid");
    }
    EXPECT_EQ(error_of(run_and_wait(request_of(script, {ordinary(std::u16string(u"a\0b", 3))}))).message,
              nul_in_data_message);
    EXPECT_FALSE(path_exists(scratch / u"args.txt"));
}

// What FormatMessageW itself gives on this system, trailing line end and padding removed.
std::optional<std::u16string> system_text(DWORD flags, HMODULE module, DWORD code, DWORD& error) {
    wchar_t buffer[2048];
    const DWORD length = FormatMessageW(flags, module, code, 0, buffer, 2048, nullptr);
    error = GetLastError();
    if (length == 0) {
        return std::nullopt;
    }
    std::u16string text = from_wide(buffer, length);
    text.erase(text.find_last_not_of(u" \t\r\n\f") + 1);
    return text;
}

TEST(LauncherOsErrorText, KnownCodesCarryTheSystemMessage) {
    for (const DWORD code : {2u, 5u, 193u, 267u}) {
        DWORD error = 0;
        const std::optional<std::u16string> text =
            system_text(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, error);
        ASSERT_TRUE(text.has_value()) << code;
        EXPECT_EQ(os_error_text(code), *text + u" (os error " + decimal(static_cast<std::int32_t>(code)) + u")");
    }
}

TEST(LauncherOsErrorText, UnknownCodeNamesTheFormatMessageFailure) {
    DWORD error = 0;
    if (system_text(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 12345, error)) {
        GTEST_SKIP() << "this system has a message for 12345";
    }
    EXPECT_EQ(os_error_text(12345),
              u"OS Error 12345 (FormatMessageW() returned error " + decimal(static_cast<std::int32_t>(error)) +
                  u") (os error 12345)");
}

// Wine's ntdll has no message table, so there the failure form is what this checks.
TEST(LauncherOsErrorText, NtStatusWithBit28IsLookedUpInNtdll) {
    const HMODULE ntdll = GetModuleHandleW(L"NTDLL.DLL");
    ASSERT_NE(ntdll, nullptr);
    DWORD error = 0;
    const std::optional<std::u16string> text =
        system_text(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_HMODULE, ntdll,
                    0xC0000005, error);
    const std::u16string expected_message =
        text ? *text
             : u"OS Error -1073741819 (FormatMessageW() returned error " +
                   decimal(static_cast<std::int32_t>(error)) + u")";
    EXPECT_EQ(os_error_text(0xD0000005), expected_message + u" (os error -805306363)");
}

TEST(LauncherOsErrorText, FixedErrorsShowTheirMessageAlone) {
    EXPECT_EQ(launch_error_text(fixed_error(LaunchErrorKind::not_found, program_not_found_message)),
              u"program not found");
    EXPECT_EQ(launch_error_text(os_error(5)), os_error_text(5));
}

// Handles open in this process, counted by asking the system about every possible handle value:
// Wine's GetProcessHandleCount always reports 0.
int open_handle_count() {
    int count = 0;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

TEST(LauncherHandles, NoHandleOutlivesAnyKindOfLaunch) {
    const TempDir scratch;
    const std::u16string decoy = scratch / u"decoy.exe";
    ASSERT_TRUE(CreateDirectoryW(probe::wide(decoy).c_str(), nullptr));
    const HANDLE null_device = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(null_device, INVALID_HANDLE_VALUE);
    constexpr int rounds = 200;
    int launches = 0;
    {
        const StdHandlesSwap swap(GetStdHandle(STD_INPUT_HANDLE), null_device, null_device);
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
        const int before = open_handle_count();
        for (int i = 0; i < rounds; ++i) {
            one_of_each();
        }
        EXPECT_EQ(open_handle_count(), before);
    }
    CloseHandle(null_device);
    std::printf("%d launches (successful, released, failed in CreateProcessW, not found) left no handle open\n",
                launches);
}

}  // namespace
}  // namespace vellomar
