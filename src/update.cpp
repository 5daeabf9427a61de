#include "update.h"

#include <optional>
#include <string>
#include <variant>

#include "error_report.h"
#include "file_probes.h"
#include "messages.h"
#include "parse_options.h"
#include "platform/handles.h"
#include "platform/process_launcher.h"
#include "platform/uninstall_entry.h"
#include "platform/version_text.h"
#include "platform/win32.h"
#include "text.h"
#include "timing.h"

#include <shellapi.h>
#include <shlobj.h>

namespace vellomar {
namespace {

constexpr std::uint32_t unopenable_process_pause_ms = 2000;
constexpr std::uint32_t settling_pause_ms = 800;
constexpr int silent_attempts = 3;
constexpr std::uint32_t retry_pause_ms = 1000;

std::uint64_t creation_time(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// Opens the application's process for waiting. The application may have exited before the helper
// got here and its id may already belong to another process; one created after the helper itself
// cannot be the application that started it, so it is treated like a process that cannot be opened.
UniqueHandle open_application_process(std::uint32_t pid) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid()) {
        if (GetLastError() != ERROR_ACCESS_DENIED) return {};
        // A process we may only wait on cannot be checked; waiting is still the right default.
        return UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, pid));
    }
    const std::uint64_t target_created = creation_time(process.get());
    const std::uint64_t self_created = creation_time(GetCurrentProcess());
    if (target_created != 0 && self_created != 0 && target_created > self_created) return {};
    return process;
}

void wait_for_process_exit(std::uint32_t pid) {
    const UniqueHandle process = open_application_process(pid);
    if (!process.valid()) {
        pause_ms(unopenable_process_pause_ms);
        return;
    }
    (void)WaitForSingleObject(process.get(), INFINITE);
}

// The directory as the installer's /D= argument carries it: text, without trailing separators.
std::u16string install_dir_argument(std::u16string_view install_dir) {
    std::u16string text = to_display_text(install_dir);
    while (!text.empty() && (text.back() == u'\\' || text.back() == u'/')) text.pop_back();
    return text;
}

// One unattended run of the installer; nothing on success, otherwise why it failed.
std::optional<std::u16string> run_silent_install(const UpdateOptions& options) {
    const std::u16string directory = install_dir_argument(*options.install_dir);
    if (directory.empty()) return std::u16string(invalid_install_dir_message);

    ChildProcessSpec spec;
    spec.program = options.installer;
    spec.arguments = {{u"/S", false}, {u"/UPDATE", false}, {u"/D=" + directory, true}};
    const std::variant<std::int32_t, LaunchError> outcome = run_and_wait(spec);
    if (const LaunchError* error = std::get_if<LaunchError>(&outcome)) {
        return installer_start_failed_message(launch_error_text(*error));
    }
    const std::int32_t exit_code = std::get<std::int32_t>(outcome);
    if (exit_code != 0) return installer_exit_code_message(exit_code);
    return std::nullopt;
}

// Hands the installer to the user: opened through the shell, without arguments.
int fallback_interactive_install(const UpdateOptions& options) {
    if (!is_existing_regular_file(options.installer)) fail(installer_missing_message(options.installer), 1);
    const std::wstring installer = to_wide(options.installer);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", installer.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) return 0;
    fail(installer_open_failed_message, 1);
}

}  // namespace

int run_update() {
    const UpdateOptions options = parse_options();

    wait_for_process_exit(options.pid);
    if (options.launch && path_exists(*options.launch)) wait_for_file_unlock(*options.launch);
    pause_ms(settling_pause_ms);

    if (!is_existing_regular_file(options.installer)) fail(installer_missing_message(options.installer), 1);

    if (options.install_dir) {
        std::optional<std::u16string> last_message;
        for (int attempt = 0; attempt < silent_attempts; ++attempt) {
            if (attempt > 0) pause_ms(retry_pause_ms);
            std::optional<std::u16string> failure = run_silent_install(options);
            if (!failure) return finish_update(options);
            last_message = std::move(failure);
        }
        report_silent_install_failure(last_message);
    }
    return fallback_interactive_install(options);
}

int finish_update(const UpdateOptions& options) {
    delete_package(options.installer);

    const std::u16string version = trim_version(options.version);
    if (!version.empty()) {
        stamp_uninstall_version(HKEY_CURRENT_USER, version);
        stamp_uninstall_version(HKEY_LOCAL_MACHINE, version);
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
    }

    if (!options.launch) return 0;
    const std::u16string& launch = *options.launch;
    if (!is_existing_regular_file(launch)) fail(launch_missing_message(launch), 1);

    ChildProcessSpec spec;
    spec.program = launch;
    spec.working_directory = parent_path(launch);
    spec.creation_flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
    if (const std::optional<LaunchError> error = start_and_release(spec)) {
        fail(relaunch_failed_message(launch_error_text(*error)), 1);
    }
    return 0;
}

}  // namespace vellomar
