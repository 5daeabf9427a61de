// The four calls of the C interface, each reading top to bottom: check the input, then the steps.
#include "vellomar/handover.h"

#include <cwchar>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/handover_rules.h"
#include "core/options.h"
#include "core/paths.h"
#include "core/quoting.h"
#include "core/text.h"
#include "file_steps.h"
#include "pending_record.h"
#include "platform/child_process.h"
#include "platform/file_probes.h"
#include "platform/handles.h"
#include "platform/package_manifest.h"
#include "platform/path_forms.h"
#include "platform/start_facts.h"
#include "platform/string_queries.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

// How long a cancel waits for the ended helper to be gone, and for its image to become deletable.
constexpr DWORD cancel_wait_ms = 10000;
constexpr DWORD delete_retry_ms = 20;
constexpr int delete_retries = 100;

std::u16string from_c(const wchar_t* text) {
    return from_wide(text, wcslen(text));
}

enum class Presence { required, optional };

// A given path that is not fully qualified, or a missing required one.
std::uint32_t check_path(const wchar_t* path, Presence presence) {
    if (path == nullptr) {
        return presence == Presence::required ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    return is_fully_qualified(from_c(path)) ? ERROR_SUCCESS : ERROR_BAD_PATHNAME;
}

std::uint32_t check_request(const VellomarUpdateRequest& request) {
    const std::pair<const wchar_t*, Presence> paths[] = {
        {request.helper, Presence::required},   {request.package, Presence::required},
        {request.state_dir, Presence::required}, {request.launch, Presence::optional},
        {request.install_dir, Presence::optional}};
    for (const auto& [path, presence] : paths) {
        if (const std::uint32_t error = check_path(path, presence)) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

// The helper's options; the version last, so that no value of the caller's stands where the helper
// looks for an option name.
std::vector<ArgumentEntry> helper_arguments(const VellomarUpdateRequest& request) {
    std::vector<ArgumentEntry> arguments = {
        {std::u16string(option_name::pid)}, {unsigned_decimal(GetCurrentProcessId())},
        {std::u16string(option_name::installer)}, {from_c(request.package)}};
    const std::pair<std::u16string_view, const wchar_t*> optional[] = {
        {option_name::launch, request.launch},
        {option_name::install_dir, request.install_dir},
        {option_name::version, request.version}};
    for (const auto& [name, value] : optional) {
        if (value != nullptr) {
            arguments.push_back({std::u16string(name)});
            arguments.push_back({from_c(value)});
        }
    }
    return arguments;
}

// The helper, started suspended: it runs only once the record that names it is on the disk. It
// inherits no handle, runs in the state directory (never a download folder or a removable disk
// that it would keep busy), and leaves the caller's job as the plan says.
LaunchRequest helper_launch(const std::u16string& copy, const VellomarUpdateRequest& request, JobStart job_start) {
    LaunchRequest launch;
    launch.program = copy;
    launch.arguments = helper_arguments(request);
    launch.working_directory = from_c(request.state_dir);
    launch.creation_flags = CREATE_SUSPENDED;
    launch.inheritance = Inheritance::none;
    launch.job_start = job_start;
    return launch;
}

std::uint32_t error_of(const LaunchError& error) {
    return error.kind == LaunchErrorKind::os ? error.os_code : std::uint32_t{ERROR_INVALID_PARAMETER};
}

// Zero when the process cannot be queried: no recorded helper has that creation time.
std::uint64_t creation_time(HANDLE process) {
    FILETIME created{};
    FILETIME unused[3]{};
    if (!GetProcessTimes(process, &created, &unused[0], &unused[1], &unused[2])) {
        return 0;
    }
    return (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// The recorded helper is still alive: its pid opens, with the recorded creation time (a reused pid
// has another), and has not ended. The helper runs as this user and always opens; a pid that does
// not is gone or another user's, and a record must never stay in progress for good.
bool helper_runs(const PendingUpdate& update) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, update.helper_pid));
    return process.valid() && creation_time(process.get()) == update.helper_created &&
           WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

Outcome judge(const PendingUpdate& update, const std::u16string& running) {
    OutcomeFacts facts;
    facts.target = update.version;
    facts.running = running;
    facts.launch_changed = !(file_stamp(update.launch_file) == update.launch);
    facts.package_exists = path_exists(update.package);
    facts.helper_runs = helper_runs(update);
    return judge_outcome(facts);
}

// The ended helper's image stays mapped for a moment after the wait returns.
void delete_when_unused(const std::u16string& path) {
    for (int attempt = 0; attempt < delete_retries && !delete_if_unused(path); ++attempt) {
        Sleep(delete_retry_ms);
    }
}

void end_unstarted(const Child& child, const std::u16string& copy) {
    (void)TerminateProcess(child.process.get(), ERROR_CANCELLED);
    (void)WaitForSingleObject(child.process.get(), cancel_wait_ms);
    delete_when_unused(copy);
}

// A start refused before anything is done (the session ends, a helper of this application still
// runs, the package needs elevation, a job would end the helper with the application) leaves no
// file; so does a failed one, and an earlier record stays as it was until the new one replaces it
// in one rename.
std::uint32_t start_update(const VellomarUpdateRequest& request, std::uint32_t& helper_pid) {
    if (const std::uint32_t error = check_request(request)) {
        return error;
    }
    const std::u16string helper = from_c(request.helper);
    const std::u16string package = from_c(request.package);
    const std::u16string state_dir = from_c(request.state_dir);
    const std::optional<PendingUpdate> earlier = read_record(record_path(state_dir)).update;
    StartFacts facts;
    facts.shutting_down = session_ending();
    facts.earlier_helper_runs = earlier && helper_runs(*earlier);
    facts.package_requires_elevation = package_requires_elevation(package);
    facts.job = current_job_facts();
    const StartPlan plan = plan_start(facts);
    if (plan.refusal != 0) {
        return plan.refusal;
    }
    sweep_copies(state_dir, package);

    PendingUpdate update;
    update.version = request.version != nullptr ? from_c(request.version) : std::u16string();
    update.package = package;
    update.application_pid = GetCurrentProcessId();
    // The installer replaces the application it updates: the launch file, or else this program.
    if (request.launch != nullptr) {
        update.launch_file = from_c(request.launch);
    } else {
        const OsResult<std::u16string> image = module_file_name();
        if (!image.ok()) {
            return image.error;
        }
        update.launch_file = image.value;
    }
    update.launch = file_stamp(update.launch_file);

    std::variant<Child, LaunchError> started = LaunchError{};
    for (int attempts = 1;; ++attempts) {
        std::uint32_t error = 0;
        if (update.helper_copy.empty()) {
            OsResult<std::u16string> copy = copy_helper(helper, package, state_dir);
            update.helper_copy = std::move(copy.value);
            error = copy.error;
        }
        if (error == 0) {
            started = start_child(helper_launch(update.helper_copy, request, plan.job));
            const LaunchError* refused = std::get_if<LaunchError>(&started);
            if (refused == nullptr) {
                break;
            }
            error = error_of(*refused);
        }
        if (!retry_refused(error, attempts, facts.job.membership)) {
            if (!update.helper_copy.empty()) {
                delete_when_unused(update.helper_copy);
            }
            return error;
        }
        Sleep(refused_start_pause_ms);
    }
    const Child& child = std::get<Child>(started);
    update.helper_pid = child.pid;
    update.helper_created = creation_time(child.process.get());
    if (const std::uint32_t error = write_record(state_dir, update)) {
        end_unstarted(child, update.helper_copy);
        return error;
    }
    if (ResumeThread(child.thread.get()) == static_cast<DWORD>(-1)) {
        const std::uint32_t error = GetLastError();
        end_unstarted(child, update.helper_copy);
        remove_file(record_path(state_dir));
        if (earlier) {
            (void)write_record(state_dir, *earlier);
        }
        return error;
    }
    // Best effort: Windows cancels the grant at the user's next input elsewhere.
    (void)AllowSetForegroundWindow(child.pid);
    helper_pid = child.pid;
    return ERROR_SUCCESS;
}

// Only the helper this process's record names is ended: a pid that has since been reused by
// another program has another creation time, and a helper another process started another record.
std::uint32_t cancel_update(std::uint32_t helper_pid, const std::u16string& state_dir) {
    const std::optional<PendingUpdate> update = read_record(record_path(state_dir)).update;
    if (!update || update->application_pid != GetCurrentProcessId() || update->helper_pid != helper_pid) {
        return ERROR_NOT_FOUND;
    }
    const UniqueHandle process(
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, helper_pid));
    if (!process.valid()) {
        const std::uint32_t error = GetLastError();
        if (error != ERROR_INVALID_PARAMETER) {
            return error;
        }
    } else if (creation_time(process.get()) == update->helper_created) {
        // While this process lives the helper only waits: it holds no lock and has started nothing.
        (void)TerminateProcess(process.get(), ERROR_CANCELLED);
        if (WaitForSingleObject(process.get(), cancel_wait_ms) != WAIT_OBJECT_0) {
            return ERROR_TIMEOUT;
        }
    }
    remove_file(record_path(state_dir));
    delete_when_unused(update->helper_copy);
    return ERROR_SUCCESS;
}

// A first look leaves a running update untouched; otherwise the record is claimed (renamed) before
// it is judged, so that of two instances starting at once only one answers UPDATED.
VellomarOutcome update_outcome(const std::u16string& state_dir, const std::u16string& running) {
    const std::optional<PendingUpdate> seen = read_record(record_path(state_dir)).update;
    if (seen && judge(*seen, running) == Outcome::in_progress) {
        return VELLOMAR_OUTCOME_IN_PROGRESS;
    }
    const std::optional<std::u16string> claimed = claim_record(state_dir);
    const std::optional<PendingUpdate> update = claimed ? read_record(*claimed).update : std::nullopt;
    const Outcome outcome = update ? judge(*update, running) : Outcome::none;
    if (outcome == Outcome::in_progress) {
        return_claim(*claimed, state_dir);
        return VELLOMAR_OUTCOME_IN_PROGRESS;
    }
    if (claimed) {
        remove_file(*claimed);
    }
    if (outcome == Outcome::updated) {
        (void)delete_if_unused(update->package);
    }
    if (update) {
        (void)delete_if_unused(update->helper_copy);
    }
    sweep_copies(state_dir, update ? std::u16string_view(update->package) : std::u16string_view());
    switch (outcome) {
    case Outcome::updated: return VELLOMAR_OUTCOME_UPDATED;
    case Outcome::not_applied: return VELLOMAR_OUTCOME_NOT_APPLIED;
    case Outcome::in_progress:
    case Outcome::none: break;
    }
    return VELLOMAR_OUTCOME_NONE;
}

// ERROR_ELEVATION_REQUIRED (740) is missing from MinGW's headers; the rest are checked here.
static_assert(handover_error::access_denied == ERROR_ACCESS_DENIED &&
              handover_error::sharing_violation == ERROR_SHARING_VIOLATION &&
              handover_error::already_exists == ERROR_ALREADY_EXISTS &&
              handover_error::shutdown_in_progress == ERROR_SHUTDOWN_IN_PROGRESS);

}  // namespace

}  // namespace vellomar

using namespace vellomar;

// Each call catches at its edge: no exception may reach a C, .NET or Python caller. The standard
// library throws here only for memory (std::bad_alloc, a length past max_size). The core and
// platform libraries are built without exceptions in the MinGW builds; an exception passes their
// frames without running their destructors, so a handle one of them holds at that moment stays
// open: a leak only in a process that has run out of memory.

unsigned long vellomar_start_update(const VellomarUpdateRequest* request, unsigned long* helper_pid) {
    if (request == nullptr || helper_pid == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        std::uint32_t pid = 0;
        const std::uint32_t error = start_update(*request, pid);
        if (error == 0) {
            *helper_pid = pid;
        }
        return error;
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

unsigned long vellomar_cancel_update(unsigned long helper_pid, const wchar_t* state_dir) {
    try {
        if (const std::uint32_t error = check_path(state_dir, Presence::required)) {
            return error;
        }
        return cancel_update(static_cast<std::uint32_t>(helper_pid), from_c(state_dir));
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

unsigned long vellomar_update_outcome(const wchar_t* state_dir, const wchar_t* running_version,
                                      VellomarOutcome* outcome) {
    if (outcome == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *outcome = VELLOMAR_OUTCOME_NONE;
    if (running_version == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        if (const std::uint32_t error = check_path(state_dir, Presence::required)) {
            return error;
        }
        *outcome = update_outcome(from_c(state_dir), from_c(running_version));
        return ERROR_SUCCESS;
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

int vellomar_can_update_silently(const wchar_t* install_dir) {
    try {
        return check_path(install_dir, Presence::required) == ERROR_SUCCESS && can_create_file_in(from_c(install_dir))
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}
