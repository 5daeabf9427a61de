// The four calls of the C interface, each reading top to bottom: check the input, then the steps.
#include "vellomar/handover.h"

#include <cwchar>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/options.h"
#include "core/paths.h"
#include "core/quoting.h"
#include "core/text.h"
#include "core/version_text.h"
#include "file_steps.h"
#include "pending_record.h"
#include "platform/file_probes.h"
#include "platform/handles.h"
#include "platform/path_forms.h"
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
DWORD check_path(const wchar_t* path, Presence presence) {
    if (path == nullptr) {
        return presence == Presence::required ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    return is_fully_qualified(from_c(path)) ? ERROR_SUCCESS : ERROR_BAD_PATHNAME;
}

DWORD check_request(const VellomarUpdateRequest& request) {
    const std::pair<const wchar_t*, Presence> paths[] = {
        {request.helper, Presence::required},   {request.package, Presence::required},
        {request.state_dir, Presence::required}, {request.launch, Presence::optional},
        {request.install_dir, Presence::optional}};
    for (const auto& [path, presence] : paths) {
        if (const DWORD error = check_path(path, presence)) {
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

std::variant<PROCESS_INFORMATION, DWORD> create_process(const std::u16string& application, std::u16string command_line,
                                                        const std::u16string& directory, DWORD flags) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(as_wcstr(application), as_wbuffer(command_line), nullptr, nullptr, FALSE, flags, nullptr,
                        as_wcstr(directory), &startup, &info)) {
        return GetLastError();
    }
    return info;
}

// Inheriting nothing, in the package's directory, out of the caller's job: a job that ends its
// processes with the application would otherwise end the helper too. A job that forbids breaking
// away refuses the flag with ERROR_ACCESS_DENIED, and the helper then starts inside it.
std::variant<PROCESS_INFORMATION, DWORD> start_helper(const std::u16string& program, const std::u16string& command_line,
                                                      const std::u16string& directory) {
    const OsResult<std::u16string> application = system_path(program, PathUse::program);
    if (!application.ok()) {
        return static_cast<DWORD>(application.error);
    }
    std::variant<PROCESS_INFORMATION, DWORD> started =
        create_process(application.value, command_line, directory, CREATE_BREAKAWAY_FROM_JOB);
    if (const DWORD* error = std::get_if<DWORD>(&started); error != nullptr && *error == ERROR_ACCESS_DENIED) {
        started = create_process(application.value, command_line, directory, 0);
    }
    return started;
}

// The ended helper's image stays mapped for a moment after the wait returns.
void delete_when_unused(const std::u16string& path) {
    for (int attempt = 0; attempt < delete_retries && !delete_if_unused(path); ++attempt) {
        Sleep(delete_retry_ms);
    }
}

// No path is longer than 32767 units and the NUL, so one buffer of that size always fits.
std::u16string image_path(HANDLE process) {
    std::u16string path(32768, u'\0');
    DWORD length = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process, 0, as_wbuffer(path), &length)) {
        return {};
    }
    path.resize(length);
    return path;
}

}  // namespace

}  // namespace vellomar

using namespace vellomar;

// The record is written before the helper starts, so that a record that cannot be written starts
// nothing; a start that fails removes the record and the copy again.
unsigned long vellomar_start_update(const VellomarUpdateRequest* request, unsigned long* helper_pid) {
    if (request == nullptr || helper_pid == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (const DWORD error = check_request(*request)) {
        return error;
    }
    const std::u16string package = from_c(request->package);
    const std::u16string state_dir = from_c(request->state_dir);
    const std::optional<std::u16string> directory = parent_path(package);
    if (!directory) {
        return ERROR_BAD_PATHNAME;
    }

    const std::variant<std::u16string, std::uint32_t> copied = copy_helper(from_c(request->helper), package, *directory);
    if (const std::uint32_t* error = std::get_if<std::uint32_t>(&copied)) {
        return *error;
    }
    const std::u16string& copy = std::get<std::u16string>(copied);
    // No argument can hold a NUL, the one thing quoting refuses.
    const std::u16string command_line = std::get<std::u16string>(build_command_line(copy, helper_arguments(*request)));

    const PendingUpdate update{request->version != nullptr ? from_c(request->version) : std::u16string(), package,
                               copy, GetCurrentProcessId()};
    if (const std::uint32_t error = write_record(state_dir, update)) {
        (void)delete_if_unused(copy);
        return error;
    }
    const std::variant<PROCESS_INFORMATION, DWORD> started = start_helper(copy, command_line, *directory);
    if (const DWORD* error = std::get_if<DWORD>(&started)) {
        remove_record(state_dir);
        (void)delete_if_unused(copy);
        return *error;
    }
    const PROCESS_INFORMATION& info = std::get<PROCESS_INFORMATION>(started);
    const UniqueHandle process(info.hProcess);
    const UniqueHandle thread(info.hThread);
    // Best effort: Windows cancels the grant at the user's next input elsewhere.
    (void)AllowSetForegroundWindow(info.dwProcessId);
    *helper_pid = info.dwProcessId;
    return ERROR_SUCCESS;
}

// Only a helper running from the copy that this process's record names is ended: a pid that has
// since been reused by another program, or a helper another process started, is left alone.
unsigned long vellomar_cancel_update(unsigned long helper_pid, const wchar_t* state_dir) {
    if (const DWORD error = check_path(state_dir, Presence::required)) {
        return error;
    }
    const std::u16string directory = from_c(state_dir);
    const std::optional<PendingUpdate> update = read_record(directory).update;
    if (!update || update->application_pid != GetCurrentProcessId()) {
        return ERROR_NOT_FOUND;
    }
    const UniqueHandle process(
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, helper_pid));
    if (!process.valid()) {
        return GetLastError();
    }
    if (!same_file(image_path(process.get()), update->helper_copy)) {
        return ERROR_NOT_FOUND;
    }
    // While this process lives the helper only waits: it holds no lock and has started nothing.
    (void)TerminateProcess(process.get(), ERROR_CANCELLED);
    if (WaitForSingleObject(process.get(), cancel_wait_ms) != WAIT_OBJECT_0) {
        return ERROR_TIMEOUT;
    }
    remove_record(directory);
    delete_when_unused(update->helper_copy);
    return ERROR_SUCCESS;
}

// UPDATED needs a recorded target: without one, nothing tells an update from the old version.
unsigned long vellomar_update_outcome(const wchar_t* state_dir, const wchar_t* running_version,
                                      VellomarOutcome* outcome) {
    if (outcome == nullptr || running_version == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *outcome = VELLOMAR_OUTCOME_NONE;
    if (const DWORD error = check_path(state_dir, Presence::required)) {
        return error;
    }
    const std::u16string directory = from_c(state_dir);
    const RecordRead read = read_record(directory);
    if (read.present) {
        remove_record(directory);
    }
    if (!read.update) {
        return ERROR_SUCCESS;
    }
    const PendingUpdate& update = *read.update;
    const std::u16string target = trim_version(update.version);
    if (!target.empty() && target == trim_version(from_c(running_version))) {
        *outcome = VELLOMAR_OUTCOME_UPDATED;
        (void)delete_if_unused(update.package);
    } else if (path_exists(update.package)) {
        *outcome = VELLOMAR_OUTCOME_NOT_APPLIED;
    }
    (void)delete_if_unused(update.helper_copy);
    return ERROR_SUCCESS;
}

int vellomar_can_update_silently(const wchar_t* install_dir) {
    if (check_path(install_dir, Presence::required) != ERROR_SUCCESS) {
        return 0;
    }
    return can_create_file_in(from_c(install_dir)) ? 1 : 0;
}
