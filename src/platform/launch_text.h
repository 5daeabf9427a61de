#pragma once
// What a caller hands to the process launcher, its failure value, and the launcher's text rules
// that need no system call (argument quoting, the batch-script command line, PATH splitting).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vellomar {

struct ArgumentEntry {
    std::u16string text;
    bool verbatim = false;  // copied into the command line as it stands, never quoted
};

struct ChildProcessSpec {
    std::u16string program;
    std::vector<ArgumentEntry> arguments;
    std::optional<std::u16string> working_directory;
    std::uint32_t creation_flags = 0;
};

enum class LaunchErrorKind { os, invalid_input, not_found };

// Either an OS error (kind os, os_code set) or a fixed error (message set).
struct LaunchError {
    LaunchErrorKind kind = LaunchErrorKind::os;
    std::uint32_t os_code = 0;
    std::u16string_view message;
};

inline constexpr std::u16string_view no_file_name_message = u"program path has no file name";
inline constexpr std::u16string_view program_not_found_message = u"program not found";
inline constexpr std::u16string_view nul_in_data_message = u"nul byte found in provided data";
inline constexpr std::u16string_view nul_in_path_message = u"strings passed to WinAPI cannot contain NULs";
inline constexpr std::u16string_view batch_arguments_message = u"batch file arguments are invalid";
inline constexpr std::u16string_view batch_path_message =
    u"Windows file names may not contain `\"` or end with `\\`";

inline LaunchError os_error(std::uint32_t code) { return {LaunchErrorKind::os, code, {}}; }
inline LaunchError fixed_error(LaunchErrorKind kind, std::u16string_view message) { return {kind, 0, message}; }

}  // namespace vellomar
