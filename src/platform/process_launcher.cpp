#include "platform/process_launcher.h"

#include <vector>

#include "core/paths.h"
#include "platform/handles.h"
#include "platform/win32.h"
#include "platform/win32_queries.h"

namespace vellomar {

namespace {

template <typename T>
using Result = std::variant<T, LaunchError>;

// A started child: both handles belong to the launch that created it.
struct Child {
    UniqueHandle process;
    UniqueHandle thread;
};

// Held while inheritable duplicates of the standard handles exist, so that a child started at the
// same time by another thread cannot inherit them too.
// A slim reader/writer lock needs no initialisation call and pulls in no thread library.
SRWLOCK launch_lock = SRWLOCK_INIT;

struct LaunchLockGuard {
    LaunchLockGuard() { AcquireSRWLockExclusive(&launch_lock); }
    ~LaunchLockGuard() { ReleaseSRWLockExclusive(&launch_lock); }
    LaunchLockGuard(const LaunchLockGuard&) = delete;
    LaunchLockGuard& operator=(const LaunchLockGuard&) = delete;
};

bool exists(const std::u16string& os_path) {
    return GetFileAttributesW(as_wcstr(os_path)) != INVALID_FILE_ATTRIBUTES;
}

// The path given to CreateProcessW for a program path. See plan_os_path for the rules; this adds
// the NUL check and the GetFullPathNameW calls.
Result<std::u16string> to_os_path(std::u16string_view path) {
    if (contains_nul(path)) {
        return fixed_error(LaunchErrorKind::invalid_input, nul_in_path_message);
    }
    const OsPathPlan plan = plan_os_path(path);
    if (plan.rule == OsPathRule::keep) {
        return std::u16string(path);
    }
    const std::u16string query = plan.rule == OsPathRule::unwrap_if_exact ? plan.candidate : std::u16string(path);
    const OsResult<std::u16string> absolute = full_path_name(query);
    if (!absolute.ok()) {
        return os_error(absolute.error);
    }
    if (plan.rule == OsPathRule::unwrap_if_exact) {
        return absolute.value == plan.candidate ? plan.candidate : std::u16string(path);
    }
    return absolute.value.size() >= long_path_units ? with_verbatim_prefix(absolute.value) : absolute.value;
}

// The helper's own directory, with its final separator.
OsResult<std::u16string> module_directory() {
    OsResult<std::u16string> path = module_file_name();
    const std::size_t separator = path.value.find_last_of(u"\\/");
    if (!path.ok() || separator == std::u16string::npos) {
        return os_failure<std::u16string>(path.ok() ? ERROR_PATH_NOT_FOUND : path.error);
    }
    path.value.resize(separator + 1);
    return path;
}

// A bare name is looked for in the helper's own directory, the system directory, the Windows
// directory, then each PATH entry; the first existing object of that name wins, even a directory.
// The current directory is never searched, so a file planted there cannot stand in for a program.
Result<std::u16string> search_program(std::u16string_view program) {
    if (contains_nul(program)) {
        return fixed_error(LaunchErrorKind::invalid_input, nul_in_data_message);
    }
    std::vector<std::u16string> directories;
    for (const OsResult<std::u16string>& fixed : {module_directory(), system_directory(), windows_directory()}) {
        if (fixed.ok() && !fixed.value.empty()) {
            directories.push_back(fixed.value);
        }
    }
    const OsResult<std::u16string> path_variable = environment_variable(u"PATH");
    if (path_variable.ok()) {
        for (const std::u16string& entry : split_search_path(path_variable.value)) {
            directories.push_back(entry);
        }
    }
    const std::u16string name = search_name(program);
    for (const std::u16string& directory : directories) {
        const std::optional<std::u16string> candidate = join_search_directory(directory, name);
        if (!candidate) {
            continue;
        }
        const Result<std::u16string> converted = to_os_path(*candidate);
        const std::u16string* os_path = std::get_if<std::u16string>(&converted);
        if (os_path != nullptr && exists(*os_path)) {
            return *os_path;
        }
    }
    return fixed_error(LaunchErrorKind::not_found, program_not_found_message);
}

Result<std::u16string> resolve_program(std::u16string_view program) {
    const ProgramForm form = program_form(program);
    if (form == ProgramForm::no_file_name) {
        return fixed_error(LaunchErrorKind::invalid_input, no_file_name_message);
    }
    // A path names exactly the file to run: no ".exe" is tried beside it, so the file a caller
    // checked is the file that runs. Its existence is left to CreateProcessW.
    if (form == ProgramForm::path) {
        return to_os_path(program);
    }
    return search_program(program);
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

// Present directories are passed as given and never made absolute. A `\\?\` form is replaced by its
// plain form when the system would not change that, so the child sees an ordinary current directory.
Result<std::optional<std::u16string>> child_directory(const std::optional<std::u16string>& directory) {
    if (!directory) {
        return std::optional<std::u16string>();
    }
    if (contains_nul(*directory)) {
        return fixed_error(LaunchErrorKind::invalid_input, nul_in_data_message);
    }
    if (const std::optional<std::u16string> candidate = working_directory_candidate(*directory)) {
        const OsResult<std::u16string> absolute = full_path_name(*candidate);
        if (absolute.ok() && absolute.value == *candidate) {
            return candidate;
        }
    }
    return directory;
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
    const DWORD flags = request.creation_flags | CREATE_UNICODE_ENVIRONMENT;
    const Result<std::optional<std::u16string>> directory = child_directory(request.working_directory);
    if (const LaunchError* error = std::get_if<LaunchError>(&directory)) {
        return *error;
    }
    const std::optional<std::u16string>& current_directory = std::get<std::optional<std::u16string>>(directory);
    std::u16string writable_command_line = command_line;

    // Declared before the duplicates, so every return closes them first and then unlocks.
    const LaunchLockGuard guard;
    UniqueHandle std_handles[3];
    const DWORD std_ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
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
    if (!CreateProcessW(as_wcstr(application), as_wbuffer(writable_command_line), nullptr, nullptr, TRUE, flags,
                        nullptr, current_directory ? as_wcstr(*current_directory) : nullptr, &startup, &info)) {
        const DWORD error = GetLastError();
        return os_error(error);
    }
    return Child{UniqueHandle(info.hProcess), UniqueHandle(info.hThread)};
}

// The steps shared by both modes; nothing is started before create_child.
Result<Child> start_child(const LaunchRequest& request) {
    const Result<std::u16string> resolved = resolve_program(request.program);
    if (const LaunchError* error = std::get_if<LaunchError>(&resolved)) {
        return *error;
    }
    std::u16string application = std::get<std::u16string>(resolved);
    const Result<bool> batch = is_batch_script(application);
    if (const LaunchError* error = std::get_if<LaunchError>(&batch)) {
        return *error;
    }
    Result<std::u16string> command_line = std::u16string();
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
    if (const LaunchError* error = std::get_if<LaunchError>(&command_line)) {
        return *error;
    }
    return create_child(application, std::get<std::u16string>(command_line), request);
}

// Process handle first, then the thread handle.
void release(Child& child) {
    child.process.reset();
    child.thread.reset();
}

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
    Result<Child> started = start_child(request);
    if (const LaunchError* error = std::get_if<LaunchError>(&started)) {
        return *error;
    }
    Child& child = std::get<Child>(started);
    const std::variant<std::int32_t, LaunchError> outcome = wait_for_exit_code(child.process.get());
    release(child);
    return outcome;
}

std::optional<LaunchError> start_and_release(const LaunchRequest& request) {
    Result<Child> started = start_child(request);
    if (const LaunchError* error = std::get_if<LaunchError>(&started)) {
        return *error;
    }
    release(std::get<Child>(started));
    return std::nullopt;
}

// NT status codes carried as HRESULTs (bit 28 set) have their texts in ntdll's message table, not
// in the system's.
std::u16string os_error_text(std::uint32_t code) {
    constexpr std::uint32_t nt_status_bit = 0x10000000;
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE module = nullptr;
    std::uint32_t lookup_code = code;
    if ((code & nt_status_bit) != 0) {
        module = GetModuleHandleW(L"NTDLL.DLL");
        if (module != nullptr) {
            lookup_code &= ~nt_status_bit;
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
        }
    }
    constexpr DWORD capacity = 2048;
    wchar_t buffer[capacity];
    const DWORD length = FormatMessageW(flags, module, lookup_code, 0, buffer, capacity, nullptr);
    if (length == 0) {
        const DWORD error = GetLastError();
        return with_os_error_suffix(format_failure_message(lookup_code, error), code);
    }
    return with_os_error_suffix(system_message(from_wide(buffer, length), lookup_code), code);
}

std::u16string launch_error_text(const LaunchError& error) {
    if (error.kind == LaunchErrorKind::os) {
        return os_error_text(error.os_code);
    }
    return std::u16string(error.message);
}

}  // namespace vellomar
