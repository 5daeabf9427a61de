// The handover library as an application uses it, with child_probe standing in for the shipped
// helper: it writes its command line and directory to a log when run. The layout's names need
// quoting and hold CJK and a character outside the BMP.
#include "vellomar/handover.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "files.h"
#include "platform/handles.h"
#include "platform/win32.h"
#include "probes.h"

extern "C" void handover_c_calls(const wchar_t* state_dir, unsigned long results[5]);

namespace {

using support::file_exists;
using vellomar::UniqueHandle;

// An installation with its helper, a download folder with the package, and the state folder with
// the helper's copy.
struct Layout {
    support::ScratchDirectory scratch{L"handover"};
    std::wstring install = scratch / L"app \u65e5\u672c \U0001F600";
    std::wstring helper = install + L"\\vellomar-update.exe";
    std::wstring downloads = scratch / L"\u4e0b\u8f7d dl";
    std::wstring package = downloads + L"\\setup 2.exe";
    std::wstring state = scratch / L"state \U0001F600\\";
    std::wstring copy = state + L"vellomar-update.handover.exe";
    std::wstring record = state + L"vellomar-update.pending";
    std::wstring log = scratch / L"helper.log";
    std::wstring shipped_log = scratch / L"shipped.log";
    std::wstring launch = install + L"\\app.exe";
    std::wstring install_dir = install + L"\\";
    std::wstring version = L"2.0 \"rc\"\t\\\\\"x\\";

    // The shipped helper logs elsewhere, so that a run of it shows. `copy_sleep_ms`: how long the
    // copy stays alive; none: no configuration waits at the copy's name.
    void prepare(std::optional<DWORD> copy_sleep_ms) const {
        for (const std::wstring& directory : {install, downloads, state}) {
            ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << GetLastError();
        }
        ASSERT_TRUE(support::place_probe(helper, shipped_log));
        ASSERT_TRUE(support::write_bytes(package, "package"));
        if (copy_sleep_ms) {
            ASSERT_TRUE(support::place_probe(copy, log, L"0", *copy_sleep_ms));
        }
    }
    VellomarUpdateRequest request() const {
        return {helper.c_str(), package.c_str(), launch.c_str(), install_dir.c_str(), version.c_str(), state.c_str()};
    }
};

// A Win32 error code as the interface returns it.
constexpr unsigned long code(long error) { return static_cast<unsigned long>(error); }

UniqueHandle open_process(unsigned long pid) {
    return UniqueHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
}

bool ended(const UniqueHandle& process, DWORD limit_ms) {
    return WaitForSingleObject(process.get(), limit_ms) == WAIT_OBJECT_0;
}

TEST(HandoverStart, RunsACopyInTheStateFolderWithTheExactCommandLineAndNoHandle) {
    const Layout layout;
    ASSERT_NO_FATAL_FAILURE(layout.prepare(3000));
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    const std::wstring marker = layout.scratch / L"marker";
    UniqueHandle held(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(held.valid());

    const VellomarUpdateRequest request = layout.request();
    unsigned long pid = 0;
    ASSERT_EQ(vellomar_start_update(&request, &pid), 0u);
    held.reset();
    const UniqueHandle helper = open_process(pid);
    ASSERT_TRUE(helper.valid());
    const std::vector<support::ProbeRecord> records = support::wait_for_probe_records(layout.log, 1);
    ASSERT_EQ(records.size(), 1u);
    // Only a helper that inherited it could still hold the marker.
    EXPECT_TRUE(UniqueHandle(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)).valid());
    EXPECT_FALSE(ended(helper, 0)) << "the helper ended before the marker was checked";

    EXPECT_EQ(records[0].command_line,
              L"\"" + layout.copy + L"\" --pid " + std::to_wstring(GetCurrentProcessId()) + L" --installer \"" +
                  layout.package + L"\" --launch \"" + layout.launch + L"\" --install-dir \"" + layout.install +
                  L"\\\\\" --version \"2.0 \\\"rc\\\"\t\\\\\\\\\\\"x\\\\\"");
    EXPECT_EQ(records[0].argv, (std::vector<std::wstring>{layout.copy, L"--pid", std::to_wstring(GetCurrentProcessId()),
                                                          L"--installer", layout.package, L"--launch", layout.launch,
                                                          L"--install-dir", layout.install_dir, L"--version",
                                                          layout.version}));
    EXPECT_EQ(records[0].directory, layout.state.substr(0, layout.state.size() - 1));
    EXPECT_FALSE(file_exists(layout.shipped_log)) << "the installed helper ran";
    EXPECT_TRUE(ended(helper, 30000));
}

// A drive root stays `X:\`: `X:` alone would name the drive's current directory. On Windows the
// drive maps the scratch folder for this test; Wine resolves no such mapping, and there the root
// of its own C: drive, which belongs to the test's private Wine environment, stands in.
TEST(HandoverStart, StateFolderAtADriveRootRunsTheHelperInTheRoot) {
    const Layout layout;
    ASSERT_NO_FATAL_FAILURE(layout.prepare(std::nullopt));
    std::wstring drive;
    for (wchar_t letter = L'Z'; letter > L'D' && drive.empty() && !support::running_under_wine(); --letter) {
        const std::wstring candidate{letter, L':'};
        if ((GetLogicalDrives() & (1u << (letter - L'A'))) == 0 &&
            DefineDosDeviceW(0, candidate.c_str(), layout.state.c_str())) {
            drive = candidate;
        }
    }
    const bool mapped = !drive.empty();
    if (!mapped) {
        ASSERT_TRUE(support::running_under_wine()) << "no drive letter could be mapped";
        drive = L"C:";
    }
    const std::wstring root = drive + L"\\";
    const std::wstring copy = root + L"vellomar-update.handover.exe";
    EXPECT_TRUE(support::place_probe(copy, layout.log));
    VellomarUpdateRequest request = layout.request();
    request.state_dir = root.c_str();
    unsigned long pid = 0;
    EXPECT_EQ(vellomar_start_update(&request, &pid), 0u);
    const std::vector<support::ProbeRecord> records = support::wait_for_probe_records(layout.log, 1);
    EXPECT_TRUE(ended(open_process(pid), 30000));
    for (const std::wstring& path : {copy, copy + L".probe", root + L"vellomar-update.pending"}) {
        (void)DeleteFileW(path.c_str());
    }
    if (mapped) {
        (void)DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr);
    }
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].directory, drive + L"\\");
    EXPECT_EQ(records[0].argv.at(0), copy);
}

// Without JOB_OBJECT_LIMIT_BREAKAWAY_OK the job refuses the flag, and the helper starts inside it.
// ctest runs each test in a process of its own, which this job then holds.
TEST(HandoverStart, JobThatRefusesBreakawayStillGetsTheHelperStarted) {
    const Layout layout;
    ASSERT_NO_FATAL_FAILURE(layout.prepare(2000));
    const UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(AssignProcessToJobObject(job.get(), GetCurrentProcess())) << GetLastError();
    const VellomarUpdateRequest request = layout.request();
    unsigned long pid = 0;
    ASSERT_EQ(vellomar_start_update(&request, &pid), 0u);
    const UniqueHandle helper(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
    BOOL in_job = FALSE;
    EXPECT_TRUE(IsProcessInJob(helper.get(), job.get(), &in_job)) << GetLastError();
    EXPECT_TRUE(in_job);
    EXPECT_EQ(support::wait_for_probe_records(layout.log, 1).size(), 1u);
    EXPECT_TRUE(ended(helper, 30000));
}

TEST(HandoverStart, RefusedRequestStartsNothing) {
    const Layout layout;
    ASSERT_NO_FATAL_FAILURE(layout.prepare(std::nullopt));
    const struct {
        const wchar_t* VellomarUpdateRequest::*field;
        const wchar_t* value;
        unsigned long expected;
    } cases[] = {
        {&VellomarUpdateRequest::package, L"setup 2.exe", ERROR_BAD_PATHNAME},
        {&VellomarUpdateRequest::package, L"", ERROR_BAD_PATHNAME},
        {&VellomarUpdateRequest::package, L"\\dl\\setup.exe", ERROR_BAD_PATHNAME},
        {&VellomarUpdateRequest::package, L"C:setup.exe", ERROR_BAD_PATHNAME},
        {&VellomarUpdateRequest::package, nullptr, ERROR_INVALID_PARAMETER},
        {&VellomarUpdateRequest::helper, L"vellomar-update.exe", ERROR_BAD_PATHNAME},
        {&VellomarUpdateRequest::launch, L"app.exe", ERROR_BAD_PATHNAME},
        {&VellomarUpdateRequest::install_dir, L"", ERROR_BAD_PATHNAME},
        {&VellomarUpdateRequest::state_dir, nullptr, ERROR_INVALID_PARAMETER},
    };
    unsigned long pid = 0;
    for (const auto& c : cases) {
        VellomarUpdateRequest request = layout.request();
        request.*c.field = c.value;
        EXPECT_EQ(vellomar_start_update(&request, &pid), c.expected) << testing::PrintToString(c.value);
    }
    EXPECT_EQ(vellomar_start_update(nullptr, &pid), code(ERROR_INVALID_PARAMETER));
    // A real makensis package with `RequestExecutionLevel admin`, built where makensis is.
    const std::wstring admin_package = support::own_directory() + L"execution-level-admin-setup.exe";
    if (file_exists(admin_package)) {
        VellomarUpdateRequest request = layout.request();
        request.package = admin_package.c_str();
        EXPECT_EQ(vellomar_start_update(&request, &pid), 740u);  // ERROR_ELEVATION_REQUIRED
    }
    Sleep(200);
    EXPECT_FALSE(file_exists(layout.copy));
    EXPECT_FALSE(file_exists(layout.record));
    EXPECT_FALSE(file_exists(layout.shipped_log));
}

// While the first helper runs, a second start is refused and the old version opened again hears
// IN_PROGRESS, with nothing touched. The new version hears UPDATED at once once the launch file has
// changed, while that helper still ends; the next start then takes the next name. Cancel ends only
// the helper of the record, and only when the pid is that helper's.
TEST(HandoverCancel, EndsTheWaitingHelperAndLeavesThePackage) {
    const Layout layout;
    ASSERT_NO_FATAL_FAILURE(layout.prepare(60000));
    const std::wstring second_copy = layout.state + L"vellomar-update.handover-2.exe";
    ASSERT_TRUE(support::place_probe(second_copy, layout.log, L"0", 60000));
    ASSERT_TRUE(support::write_bytes(layout.launch, "1.0"));
    const VellomarUpdateRequest request = layout.request();
    unsigned long first_pid = 0;
    unsigned long second_pid = 0;
    ASSERT_EQ(vellomar_start_update(&request, &first_pid), 0u);
    const UniqueHandle first(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, first_pid));
    ASSERT_EQ(support::wait_for_probe_records(layout.log, 1).size(), 1u);
    const std::string record = support::read_bytes(layout.record);
    EXPECT_EQ(vellomar_start_update(&request, &second_pid), code(ERROR_ALREADY_EXISTS));
    VellomarOutcome outcome = VELLOMAR_OUTCOME_NONE;
    EXPECT_EQ(vellomar_update_outcome(layout.state.c_str(), L"1.0", &outcome), 0u);
    EXPECT_EQ(outcome, VELLOMAR_OUTCOME_IN_PROGRESS);
    EXPECT_EQ(support::read_bytes(layout.record), record);
    EXPECT_TRUE(file_exists(layout.package));
    EXPECT_EQ(vellomar_cancel_update(GetCurrentProcessId(), layout.state.c_str()), code(ERROR_NOT_FOUND));
    ASSERT_TRUE(support::write_bytes(layout.launch, "2.0, installed"));
    EXPECT_EQ(vellomar_update_outcome(layout.state.c_str(), layout.version.c_str(), &outcome), 0u);
    EXPECT_EQ(outcome, VELLOMAR_OUTCOME_UPDATED);
    EXPECT_FALSE(ended(first, 0));
    EXPECT_TRUE(file_exists(layout.copy));

    ASSERT_TRUE(support::write_bytes(layout.package, "package"));
    ASSERT_EQ(vellomar_start_update(&request, &second_pid), 0u);
    const UniqueHandle second = open_process(second_pid);
    const std::vector<support::ProbeRecord> records = support::wait_for_probe_records(layout.log, 2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].argv.at(0), second_copy);

    EXPECT_EQ(vellomar_cancel_update(first_pid, layout.state.c_str()), code(ERROR_NOT_FOUND));
    EXPECT_EQ(vellomar_cancel_update(second_pid, layout.state.c_str()), 0u);
    EXPECT_TRUE(ended(second, 0));
    DWORD exit_code = 0;
    EXPECT_TRUE(GetExitCodeProcess(second.get(), &exit_code));
    EXPECT_EQ(exit_code, DWORD{ERROR_CANCELLED});
    EXPECT_FALSE(ended(first, 0));
    EXPECT_TRUE(file_exists(layout.package));
    EXPECT_FALSE(file_exists(layout.record));
    EXPECT_FALSE(file_exists(second_copy));
    EXPECT_EQ(vellomar_cancel_update(second_pid, layout.state.c_str()), code(ERROR_NOT_FOUND));
    (void)TerminateProcess(first.get(), 1);
    EXPECT_TRUE(ended(first, 30000));
}

// Each row hands over to a helper that ends at once, changes what the row names, and reads the
// outcome twice: the second read finds no record. The installed helper is read-only, its copy is
// not; a read-only copy left by an earlier update is swept. Files the record does not name stay.
TEST(HandoverOutcome, FollowsTheRecordAndDeletesOnlyWhatItNamesAndNobodyUses) {
    enum Change { none = 0, no_start = 1, install = 2, drop_package = 4, tear_record = 8, lock_package = 16,
                  cancel_ended = 32 };
    const std::wstring target = L" 2.0 \"rc\"\t\\\\\"x\\\n";
    const struct {
        const char* name;
        int change;
        const wchar_t* running;
        VellomarOutcome expected;
        bool package_stays;
    } cases[] = {
        {"updated", install, target.c_str(), VELLOMAR_OUTCOME_UPDATED, false},
        {"repair that installed nothing", none, target.c_str(), VELLOMAR_OUTCOME_NOT_APPLIED, true},
        {"not applied", install, L"1.0", VELLOMAR_OUTCOME_NOT_APPLIED, true},
        {"no record", no_start, L"2.0", VELLOMAR_OUTCOME_NONE, true},
        {"package gone, old version", drop_package, L"1.0", VELLOMAR_OUTCOME_NONE, false},
        {"package gone, target", drop_package, target.c_str(), VELLOMAR_OUTCOME_UPDATED, false},
        {"torn record", tear_record, L"1.0", VELLOMAR_OUTCOME_NONE, true},
        {"package in use", install | lock_package, target.c_str(), VELLOMAR_OUTCOME_UPDATED, true},
        {"cancelled after it ended", cancel_ended, target.c_str(), VELLOMAR_OUTCOME_NONE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Layout layout;
        ASSERT_NO_FATAL_FAILURE(layout.prepare(0));
        const std::wstring foreign[] = {layout.downloads + L"\\other.exe", layout.state + L"other.pending",
                                        layout.state + L"other.exe", layout.install + L"\\app.exe"};
        for (const std::wstring& path : foreign) {
            ASSERT_TRUE(support::write_bytes(path, "foreign"));
        }
        const std::wstring stale_copy = layout.state + L"old.handover-3.exe";
        ASSERT_TRUE(support::write_bytes(stale_copy, "stale"));
        ASSERT_TRUE(SetFileAttributesW(stale_copy.c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(SetFileAttributesW(layout.helper.c_str(), FILE_ATTRIBUTE_READONLY));
        if ((c.change & no_start) == 0) {
            const VellomarUpdateRequest request = layout.request();
            unsigned long pid = 0;
            ASSERT_EQ(vellomar_start_update(&request, &pid), 0u);
            EXPECT_EQ(GetFileAttributesW(layout.copy.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
            ASSERT_EQ(support::wait_for_probe_records(layout.log, 1).size(), 1u);
            const UniqueHandle helper = open_process(pid);
            ASSERT_TRUE(!helper.valid() || ended(helper, 30000));
            if ((c.change & cancel_ended) != 0) {
                EXPECT_EQ(vellomar_cancel_update(pid, layout.state.c_str()), 0u);
            }
        }
        if ((c.change & install) != 0) {
            ASSERT_TRUE(support::write_bytes(layout.launch, "installed"));
        }
        if ((c.change & drop_package) != 0) {
            ASSERT_TRUE(DeleteFileW(layout.package.c_str()));
        } else if ((c.change & tear_record) != 0) {
            const std::string bytes = support::read_bytes(layout.record);
            ASSERT_TRUE(support::write_bytes(layout.record, bytes.substr(0, bytes.size() - 2)));
        }
        std::optional<support::FileLock> lock;
        if ((c.change & lock_package) != 0) {
            lock.emplace(layout.package, 60000);
            ASSERT_TRUE(lock->wait_until_taken());
        }
        VellomarOutcome outcome = VELLOMAR_OUTCOME_IN_PROGRESS;
        EXPECT_EQ(vellomar_update_outcome(layout.state.c_str(), c.running, &outcome), 0u);
        EXPECT_EQ(outcome, c.expected);
        lock.reset();
        EXPECT_EQ(file_exists(layout.package), c.package_stays);
        EXPECT_FALSE(file_exists(layout.copy));
        EXPECT_FALSE(file_exists(stale_copy));
        EXPECT_FALSE(file_exists(layout.record));
        for (const std::wstring& path : foreign) {
            EXPECT_TRUE(file_exists(path)) << testing::PrintToString(path);
        }
        EXPECT_EQ(vellomar_update_outcome(layout.state.c_str(), c.running, &outcome), 0u);
        EXPECT_EQ(outcome, VELLOMAR_OUTCOME_NONE);
        outcome = VELLOMAR_OUTCOME_UPDATED;
        EXPECT_EQ(vellomar_update_outcome(layout.state.c_str(), nullptr, &outcome), code(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(outcome, VELLOMAR_OUTCOME_NONE);
    }
}

// Wine grants everything to everyone, so a folder this user cannot write is not among the rows.
TEST(HandoverCanUpdateSilently, OnlyForAnExistingFolderTheUserCanCreateFilesIn) {
    const Layout layout;
    ASSERT_NO_FATAL_FAILURE(layout.prepare(std::nullopt));
    const std::wstring missing = layout.state + L"missing";
    const struct {
        const wchar_t* path;
        int expected;
    } cases[] = {
        {layout.state.c_str(), 1}, {layout.install.c_str(), 1}, {nullptr, 0},         {L"state", 0},
        {L"C:state", 0},           {layout.package.c_str(), 0}, {missing.c_str(), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vellomar_can_update_silently(c.path), c.expected) << testing::PrintToString(c.path);
    }
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW((layout.state + L"*.tmp").c_str(), &entry);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "a probe file was left behind";
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
    }
}

TEST(HandoverCInterface, CallsFromCAnswerLikeCallsFromCpp) {
    const Layout layout;
    ASSERT_NO_FATAL_FAILURE(layout.prepare(std::nullopt));
    unsigned long results[5] = {};
    handover_c_calls(layout.state.c_str(), results);
    EXPECT_EQ(results[0], code(ERROR_BAD_PATHNAME));
    EXPECT_EQ(results[1], code(ERROR_NOT_FOUND));
    EXPECT_EQ(results[2], 0u);
    EXPECT_EQ(results[3], code(VELLOMAR_OUTCOME_NONE));
    EXPECT_EQ(results[4], 1u);
}

}  // namespace
