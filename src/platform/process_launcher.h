#pragma once
// Starts one program: exactly the fully qualified file it is given, with its arguments quoted for
// the C runtime (or run through cmd.exe when it is a batch script). Standard types only.
// It refuses a NUL in the program, the arguments or the directory, and a batch path the script
// line cannot quote (a `"`, a trailing `\`), with a fixed error. The update sequence cannot reach
// these guards (its values come from a NUL-terminated command line, and its paths name existing
// files), but they are the launcher's own contract and stay, whoever calls it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/handover_rules.h"
#include "core/quoting.h"

namespace vellomar {

// What the child inherits: this process's standard streams (the helper's runs), or no handle at all.
enum class Inheritance { standard_streams, none };

struct LaunchRequest {
    std::u16string program;  // fully qualified
    std::vector<ArgumentEntry> arguments;
    std::optional<std::u16string> working_directory;
    std::uint32_t creation_flags = 0;
    Inheritance inheritance = Inheritance::standard_streams;
    // Whether to leave the caller's job (CREATE_BREAKAWAY_FROM_JOB), and what a refusal means.
    JobStart job_start = JobStart::plain;
};

// CreateProcessW's creation flags the sequence asks for by name.
inline constexpr std::uint32_t detached_process = 0x00000008;
inline constexpr std::uint32_t create_new_process_group = 0x00000200;

enum class LaunchErrorKind { os, invalid_input };

// Either an OS error (kind os, os_code set) or a fixed error (message set).
struct LaunchError {
    LaunchErrorKind kind = LaunchErrorKind::os;
    std::uint32_t os_code = 0;
    std::u16string_view message;
};

inline LaunchError os_error(std::uint32_t code) { return {LaunchErrorKind::os, code, {}}; }
inline LaunchError fixed_error(std::u16string_view message) { return {LaunchErrorKind::invalid_input, 0, message}; }

inline constexpr std::u16string_view nul_in_path_message = u"strings passed to WinAPI cannot contain NULs";

// Starts the child, waits without a time limit, and returns its exit code (same bits, signed).
[[nodiscard]] std::variant<std::int32_t, LaunchError> run_and_wait(const LaunchRequest& request);

// Starts the child and lets go of it at once.
[[nodiscard]] std::optional<LaunchError> start_and_release(const LaunchRequest& request);

// What the helper's messages insert for a launch failure.
std::u16string launch_error_text(const LaunchError& error);

}  // namespace vellomar
