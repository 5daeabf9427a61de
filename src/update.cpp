#include "update.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "core/messages.h"
#include "core/options.h"
#include "core/paths.h"
#include "core/version_text.h"
#include "platform/error_report.h"
#include "platform/file_probes.h"
#include "platform/package_deletion.h"
#include "platform/path_forms.h"
#include "platform/process_arguments.h"
#include "platform/process_launcher.h"
#include "platform/process_wait.h"
#include "platform/shell.h"
#include "platform/timing.h"
#include "platform/uninstall_entry.h"
#include "platform/update_lock.h"
#include "update_timing.h"

// The sequence is written against the platform layer's own standard-typed interface.
#if defined(_WINDOWS_) || defined(_INC_WINDOWS)
#error "update.cpp must not see <windows.h>"
#endif

namespace vellomar {
namespace {

// The new version outlives the helper on its own.
constexpr std::uint32_t relaunch_creation_flags = detached_process | create_new_process_group;

// A failure a person is to see, and the exit code that follows it.
struct Failure {
    std::u16string text;
    ExitCode code;
};

// Every failure a person sees: the box, then the end of the process. Never called under the update
// lock: nobody knows how long a box stays open, and another helper's update must not wait for it.
[[noreturn]] void fail(const Failure& failure) {
    show_error(failure.text);
    exit_process(static_cast<std::uint32_t>(failure.code));
}

// Reads the command line; a missing or malformed required option ends the process.
UpdateOptions parse_options() {
    std::variant<UpdateOptions, OptionError> parsed = build_options(process_arguments());
    if (const OptionError* error = std::get_if<OptionError>(&parsed)) {
        fail({option_error_message(*error), ExitCode::bad_options});
    }
    return std::get<UpdateOptions>(std::move(parsed));
}

// A file named on the command line: the text the application passed, which messages show, and the
// one fully qualified path that every step probes, runs, deletes or relaunches. Resolving it once
// keeps the checked file and the file used the same, whatever the launcher or the file system would
// otherwise make of a relative name.
struct FileArgument {
    std::u16string given;
    std::u16string path;
};

FileArgument file_argument(const std::u16string& given) {
    return {given, fully_qualified_path(given)};
}

// The installer's /D= directory. Emptiness is judged on the text as given (separators alone leave
// nothing once the trailing ones go), so `\` and a bare `--launch` stay invalid; a directory that
// is not fully qualified (`App`, `C:App`, `\Apps\App`) is made absolute against the current
// directory, as the installer and the application are, since the installer would otherwise decide
// what it means. Empty when invalid.
std::u16string install_directory(const std::u16string& given) {
    if (std::all_of(given.begin(), given.end(), is_separator)) {
        return {};
    }
    return install_dir_argument(fully_qualified_path(given));
}

void wait_for_process_exit(std::uint32_t pid) {
    if (!wait_for_application_exit(pid)) {
        pause_ms(unopenable_process_pause_ms);
    }
}

// One unattended run of the installer; nothing on success, otherwise why it failed.
std::optional<std::u16string> run_silent_install(const FileArgument& installer, const std::u16string& directory) {
    if (directory.empty()) {
        return std::u16string(invalid_install_dir_message);
    }
    LaunchRequest request;
    request.program = installer.path;
    request.arguments = {{u"/S", false}, {u"/UPDATE", false}, {u"/D=" + directory, true}};
    const std::variant<std::int32_t, LaunchError> outcome = run_and_wait(request);
    if (const LaunchError* error = std::get_if<LaunchError>(&outcome)) {
        return installer_start_failed_message(launch_error_text(*error));
    }
    const std::int32_t exit_code = std::get<std::int32_t>(outcome);
    if (exit_code != 0) {
        return installer_exit_code_message(exit_code);
    }
    return std::nullopt;
}

std::optional<Failure> check_installer(const FileArgument& installer) {
    if (!is_existing_regular_file(installer.path)) {
        return Failure{installer_missing_message(installer.given), ExitCode::failure};
    }
    return std::nullopt;
}

// Hands the installer to the user: opened through the shell, without arguments.
std::optional<Failure> fallback_interactive_install(const FileArgument& installer) {
    if (std::optional<Failure> missing = check_installer(installer)) {
        return missing;
    }
    if (!open_with_shell(installer.path)) {
        return Failure{std::u16string(installer_open_failed_message), ExitCode::failure};
    }
    return std::nullopt;
}

// After a successful silent installation: delete the package, stamp the version, relaunch.
std::optional<Failure> finish_update(std::u16string_view new_version, const FileArgument& installer,
                                     const std::optional<FileArgument>& launch) {
    delete_package(installer.path);

    const std::u16string version = trim_version(new_version);
    if (!version.empty()) {
        stamp_uninstall_version(Hive::current_user, version);
        stamp_uninstall_version(Hive::local_machine, version);
        notify_association_change();
    }

    if (!launch) {
        return std::nullopt;
    }
    if (!is_existing_regular_file(launch->path)) {
        return Failure{launch_missing_message(launch->given), ExitCode::failure};
    }
    LaunchRequest request;
    request.program = launch->path;
    request.working_directory = parent_path(launch->path);
    request.creation_flags = relaunch_creation_flags;
    if (const std::optional<LaunchError> error = start_and_release(request)) {
        return Failure{relaunch_failed_message(launch_error_text(*error)), ExitCode::failure};
    }
    return std::nullopt;
}

// Up to three unattended runs, then the user's turn. Two helpers started for one update (a double
// click, a restarted application) would run two installers into one directory at once, so each
// waits for its turn before it looks at the package; a second one then finds the package the first
// used and deleted gone, and says so. The lock ends with this function, before any box is shown.
std::optional<Failure> install_silently(const UpdateOptions& options, const FileArgument& installer,
                                        const std::optional<FileArgument>& launch) {
    const UpdateLock lock = take_update_lock();
    if (std::optional<Failure> missing = check_installer(installer)) {
        return missing;
    }
    const std::u16string directory = install_directory(*options.install_dir);
    std::optional<std::u16string> last_message;
    for (int attempt = 0; attempt < silent_attempts; ++attempt) {
        if (attempt > 0) {
            pause_ms(retry_pause_ms);
        }
        std::optional<std::u16string> failure = run_silent_install(installer, directory);
        if (!failure) {
            return finish_update(options.version, installer, launch);
        }
        last_message = std::move(failure);
    }
    report_silent_install_failure(last_message);
    return fallback_interactive_install(installer);
}

}  // namespace

ExitCode run_update() {
    const UpdateOptions options = parse_options();
    const FileArgument installer = file_argument(options.installer);
    const std::optional<FileArgument> launch =
        options.launch ? std::optional<FileArgument>(file_argument(*options.launch)) : std::nullopt;

    wait_for_process_exit(options.pid);
    if (launch && path_exists(launch->path)) {
        wait_for_file_unlock(launch->path, unlock_limit_seconds, unlock_probe_pause_ms);
    }
    pause_ms(settling_pause_ms);

    // Without an installation directory the installer goes to the user at once.
    const std::optional<Failure> failure = options.install_dir ? install_silently(options, installer, launch)
                                                               : fallback_interactive_install(installer);
    if (failure) {
        fail(*failure);
    }
    return ExitCode::success;
}

}  // namespace vellomar
