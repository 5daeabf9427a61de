#include "platform/process_launcher.h"

#include <vector>

#include "core/paths.h"
#include "core/quoting.h"
#include "platform/child_process.h"
#include "platform/handles.h"
#include "platform/os_error_text.h"
#include "platform/path_forms.h"
#include "platform/string_queries.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

template <typename T>
using Result = std::variant<T, LaunchError>;

static_assert(detached_process == DETACHED_PROCESS && create_new_process_group == CREATE_NEW_PROCESS_GROUP);

// The path CreateProcessW is given for the program: long ones in the form it takes them.
Result<std::u16string> program_path(const std::u16string& program) {
    if (contains_nul(program)) {
        return fixed_error(nul_in_path_message);
    }
    const OsResult<std::u16string> path = system_path(program, PathUse::program);
    if (!path.ok()) {
        return os_error(path.error);
    }
    return path.value;
}

// Judged on the absolute form, which drops what the system ignores anyway (`run.bat.` is run.bat).
Result<bool> is_batch_script(const std::u16string& application) {
    if (is_verbatim_path(application)) {
        return has_batch_extension(application);
    }
    const OsResult<std::u16string> absolute = full_path_name(application);
    if (!absolute.ok()) {
        return os_error(absolute.error);
    }
    return has_batch_extension(absolute.value);
}

// An inheritable duplicate of one of the helper's standard handles; empty when the helper has none.
// A value that no longer names a handle (a parent may hand over stale ones) counts as none too:
// failing every launch for a stream the child may never use would be worse than giving it none.
Result<UniqueHandle> inheritable_duplicate(DWORD which) {
    const HANDLE original = GetStdHandle(which);
    if (original == nullptr || original == INVALID_HANDLE_VALUE) {
        return UniqueHandle();
    }
    HANDLE duplicate = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &duplicate, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_HANDLE) {
            return UniqueHandle();
        }
        return os_error(error);
    }
    return UniqueHandle(duplicate);
}

Result<Child> create_child(const std::u16string& application, const std::u16string& command_line,
                           const LaunchRequest& request) {
    DWORD flags = request.creation_flags | CREATE_UNICODE_ENVIRONMENT;
    if (request.job_start != JobStart::plain) {
        flags |= CREATE_BREAKAWAY_FROM_JOB;
    }
    // A present directory is passed as given.
    const std::optional<std::u16string>& current_directory = request.working_directory;
    if (current_directory && contains_nul(*current_directory)) {
        return fixed_error(nul_in_data_message);
    }
    std::u16string writable_command_line = command_line;

    const bool inherit = request.inheritance == Inheritance::standard_streams;
    UniqueHandle std_handles[3];
    const DWORD std_ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; inherit && i < 3; ++i) {
        Result<UniqueHandle> duplicate = inheritable_duplicate(std_ids[i]);
        if (const LaunchError* error = std::get_if<LaunchError>(&duplicate)) {
            return *error;
        }
        std_handles[i] = std::move(std::get<UniqueHandle>(duplicate));
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (std_handles[0].valid() || std_handles[1].valid() || std_handles[2].valid()) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = std_handles[0].get();
        startup.hStdOutput = std_handles[1].get();
        startup.hStdError = std_handles[2].get();
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(as_wcstr(application), as_wbuffer(writable_command_line), nullptr, nullptr, inherit, flags,
                        nullptr, current_directory ? as_wcstr(*current_directory) : nullptr, &startup, &info)) {
        const DWORD error = GetLastError();
        // A job that forbids breaking away refuses the flag with ERROR_ACCESS_DENIED.
        if (error == ERROR_ACCESS_DENIED && request.job_start == JobStart::breakaway_else_inside) {
            LaunchRequest inside = request;
            inside.job_start = JobStart::plain;
            return create_child(application, command_line, inside);
        }
        return os_error(error);
    }
    return Child{UniqueHandle(info.hThread), UniqueHandle(info.hProcess), info.dwProcessId};
}

}  // namespace

// The steps shared by both modes; nothing is started before create_child.
std::variant<Child, LaunchError> start_child(const LaunchRequest& request) {
    const Result<std::u16string> resolved = program_path(request.program);
    if (const LaunchError* error = std::get_if<LaunchError>(&resolved)) {
        return *error;
    }
    std::u16string application = std::get<std::u16string>(resolved);
    const Result<bool> batch = is_batch_script(application);
    if (const LaunchError* error = std::get_if<LaunchError>(&batch)) {
        return *error;
    }
    std::variant<std::u16string, QuotingError> command_line;
    if (std::get<bool>(batch)) {
        // CreateProcessW cannot start a script itself; it runs through the system's own cmd.exe.
        const OsResult<std::u16string> system = system_directory();
        if (!system.ok()) {
            return os_error(system.error);
        }
        command_line = build_script_command_line(application, request.arguments);
        application = system.value + u"\\cmd.exe";
    } else {
        command_line = build_command_line(request.program, request.arguments);
    }
    if (const QuotingError* error = std::get_if<QuotingError>(&command_line)) {
        return fixed_error(error->message);
    }
    return create_child(application, std::get<std::u16string>(command_line), request);
}

namespace {

std::variant<std::int32_t, LaunchError> wait_for_exit_code(HANDLE process) {
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) {
        const DWORD error = GetLastError();
        return os_error(error);
    }
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process, &exit_code)) {
        const DWORD error = GetLastError();
        return os_error(error);
    }
    return static_cast<std::int32_t>(exit_code);
}

}  // namespace

std::variant<std::int32_t, LaunchError> run_and_wait(const LaunchRequest& request) {
    const Result<Child> started = start_child(request);
    if (const LaunchError* error = std::get_if<LaunchError>(&started)) {
        return *error;
    }
    return wait_for_exit_code(std::get<Child>(started).process.get());
}

std::optional<LaunchError> start_and_release(const LaunchRequest& request) {
    const Result<Child> started = start_child(request);
    if (const LaunchError* error = std::get_if<LaunchError>(&started)) {
        return *error;
    }
    return std::nullopt;
}

std::u16string launch_error_text(const LaunchError& error) {
    if (error.kind == LaunchErrorKind::os) {
        return os_error_text(error.os_code);
    }
    return std::u16string(error.message);
}

}  // namespace vellomar
