#pragma once
// The platform layer as the update sequence sees it, over a scripted world: each call is answered
// from the world and written to a trace, pauses included, and nothing real happens. Linked instead
// of the platform library, so the sequence is tested natively and in milliseconds.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/process_launcher.h"

namespace fake {

// What wait_for_application_exit finds: the application still running is waited for; a process
// that is gone, or one that cannot be the application (the helper's own id, a reused id), leaves
// nothing to wait for (see wait_rules.h).
enum class Application { running, gone };

struct World {
    std::vector<std::u16string> arguments;  // the helper's argv, its own name first
    Application application = Application::running;
    std::vector<std::u16string> files;        // existing regular files
    std::vector<std::u16string> directories;  // existing directories
    std::vector<std::variant<std::int32_t, vellomar::LaunchError>> installer_runs;  // one per run, in order
    std::optional<vellomar::LaunchError> relaunch_error;
    bool shell_opens = true;
};

struct Outcome {
    std::vector<std::string> trace;  // one entry per platform call, in UTF-8
    int exit_code = -1;              // returned by run_update or passed to exit_process
};

// The helper's current directory, against which relative paths are made absolute.
inline constexpr std::u16string_view current_directory = u"C:\\work";

// run_update over `world`; a run that ends the process ends here.
Outcome run(const World& world);

}  // namespace fake
