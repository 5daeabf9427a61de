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

struct LaunchRequest {
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

// ---- Command lines. The texts carry no terminating NUL; the wide copy made for the call adds it.

// Appends one argument: verbatim as it stands, ordinary quoted and escaped for the C runtime's splitter.
[[nodiscard]] std::optional<LaunchError> append_argument(std::u16string& command_line,
                                                         const ArgumentEntry& argument);
// `"program"` followed by the arguments, each after one space.
[[nodiscard]] std::variant<std::u16string, LaunchError> build_command_line(
    std::u16string_view program, const std::vector<ArgumentEntry>& arguments);
// The command line that runs a batch script through cmd.exe.
[[nodiscard]] std::variant<std::u16string, LaunchError> build_script_command_line(
    std::u16string_view script_path, const std::vector<ArgumentEntry>& arguments);
// ".bat" or ".cmd" in any letter case as the last four characters.
bool has_batch_extension(std::u16string_view path);

// ---- Program names and the search for a bare name.

enum class ProgramForm { no_file_name, path, bare_name };
ProgramForm program_form(std::u16string_view program);
// The name looked for in each search directory: ".exe" appended when the name has no "." at all.
std::u16string search_name(std::u16string_view bare_name);
// The entries of a PATH value, in order.
std::vector<std::u16string> split_search_path(std::u16string_view path_variable);
// The candidate path for `name` in `directory`; nothing for a name that carries a drive.
std::optional<std::u16string> join_search_directory(std::u16string_view directory, std::u16string_view name);

// ---- Pieces of an OS error text.

// The message when FormatMessageW failed with `format_error`.
std::u16string format_failure_message(std::uint32_t code, std::uint32_t format_error);
// The message made from what FormatMessageW returned.
std::u16string system_message(std::u16string_view returned, std::uint32_t code);
// `message (os error N)`, N the code as a signed decimal.
std::u16string with_os_error_suffix(std::u16string_view message, std::uint32_t code);

}  // namespace vellomar
