#include "fake_platform.h"

#include <algorithm>
#include <cstdio>

#include "core/messages.h"
#include "core/system_message.h"
#include "core/text.h"
#include "platform/error_report.h"
#include "platform/file_probes.h"
#include "platform/package_deletion.h"
#include "platform/path_forms.h"
#include "platform/process_arguments.h"
#include "platform/process_wait.h"
#include "platform/shell.h"
#include "platform/timing.h"
#include "platform/uninstall_entry.h"
#include "platform/update_lock.h"
#include "update.h"

namespace fake {
namespace {

// The end of the process, for a test: unwinds out of run_update.
struct ProcessEnded {};

const World* world = nullptr;
Outcome* outcome = nullptr;
std::size_t installer_runs_made = 0;

std::string utf8(std::u16string_view text) {
    const std::vector<char> bytes = vellomar::to_utf8(text);
    return std::string(bytes.begin(), bytes.end());
}

void record(std::string entry) {
    outcome->trace.push_back(std::move(entry));
}

bool contains(const std::vector<std::u16string>& paths, std::u16string_view path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// The command line the launcher would build, then what else the request asks for.
std::string describe(const vellomar::LaunchRequest& request) {
    const auto command_line = vellomar::build_command_line(request.program, request.arguments);
    std::string text = utf8(std::get<std::u16string>(command_line));
    if (request.working_directory) {
        text += " in " + utf8(*request.working_directory);
    }
    if (request.creation_flags != 0) {
        char flags[16];
        std::snprintf(flags, sizeof(flags), " flags 0x%x", static_cast<unsigned>(request.creation_flags));
        text += flags;
    }
    return text;
}

}  // namespace

Outcome run(const World& scripted) {
    Outcome result;
    world = &scripted;
    outcome = &result;
    installer_runs_made = 0;
    try {
        result.exit_code = static_cast<int>(vellomar::run_update());
    } catch (const ProcessEnded&) {
    }
    world = nullptr;
    outcome = nullptr;
    return result;
}

}  // namespace fake

namespace vellomar {

using fake::outcome;
using fake::record;
using fake::utf8;
using fake::world;

std::vector<std::u16string> process_arguments() {
    return world->arguments;
}

std::u16string fully_qualified_path(const std::u16string& path) {
    return is_fully_qualified(path) ? path : std::u16string(fake::current_directory) + u"\\" + path;
}

bool wait_for_application_exit(std::uint32_t pid) {
    record("wait_for_application_exit(" + std::to_string(pid) + ")");
    return world->application == fake::Application::running;
}

bool path_exists(std::u16string_view path) {
    record("path_exists(" + utf8(path) + ")");
    return fake::contains(world->files, path) || fake::contains(world->directories, path);
}

bool is_existing_regular_file(std::u16string_view path) {
    record("is_existing_regular_file(" + utf8(path) + ")");
    return fake::contains(world->files, path);
}

void wait_for_file_unlock(std::u16string_view path, std::uint64_t limit_seconds, std::uint32_t probe_pause_ms) {
    record("wait_for_file_unlock(" + utf8(path) + ", " + std::to_string(limit_seconds) + " s, every " +
           std::to_string(probe_pause_ms) + " ms)");
}

void pause_ms(std::uint32_t milliseconds) {
    record("pause_ms(" + std::to_string(milliseconds) + ")");
}

UpdateLock take_update_lock() {
    record("take_update_lock");
    static int mutex;
    return UpdateLock(&mutex);
}

void UpdateLock::release_mutex(void*) {
    record("release_update_lock");
}

std::variant<std::int32_t, LaunchError> run_and_wait(const LaunchRequest& request) {
    record("run_and_wait(" + fake::describe(request) + ")");
    return world->installer_runs.at(fake::installer_runs_made++);
}

std::optional<LaunchError> start_and_release(const LaunchRequest& request) {
    record("start_and_release(" + fake::describe(request) + ")");
    return world->relaunch_error;
}

std::u16string launch_error_text(const LaunchError& error) {
    if (error.kind == LaunchErrorKind::os) {
        return with_os_error_suffix(u"system message", error.os_code);
    }
    return std::u16string(error.message);
}

void delete_package(std::u16string_view path) {
    record("delete_package(" + utf8(path) + ")");
}

void stamp_uninstall_version(Hive hive, std::u16string_view version) {
    record(std::string("stamp_uninstall_version(") + (hive == Hive::current_user ? "HKCU" : "HKLM") + ", " +
           utf8(version) + ")");
}

void notify_association_change() {
    record("notify_association_change");
}

bool open_with_shell(const std::u16string& path) {
    record("open_with_shell(" + utf8(path) + ")");
    return world->shell_opens;
}

void report_silent_install_failure(const std::optional<std::u16string>& last_message) {
    record("report_silent_install_failure(" + utf8(debug_render(last_message)) + ")");
}

void show_error(std::u16string_view text) {
    record("show_error(" + utf8(text) + ")");
}

void exit_process(std::uint32_t code) {
    record("exit_process(" + std::to_string(code) + ")");
    outcome->exit_code = static_cast<int>(code);
    throw fake::ProcessEnded{};
}

}  // namespace vellomar
