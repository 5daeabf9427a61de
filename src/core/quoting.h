#pragma once
// Command-line quoting: how arguments are written so that the C runtime's splitter, or cmd.exe on
// its way to a batch script, reads them back unchanged. The texts carry no terminating NUL; the
// copy made for the call adds it.
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vellomar {

// One argument of a command line, in order.
struct ArgumentEntry {
    std::u16string text;
    bool verbatim = false;  // copied into the command line as it stands, never quoted
};

// Why arguments cannot be put on a command line; the text is what the launcher reports.
struct QuotingError {
    std::u16string_view message;
};

inline constexpr std::u16string_view nul_in_data_message = u"nul byte found in provided data";
inline constexpr std::u16string_view batch_arguments_message = u"batch file arguments are invalid";
inline constexpr std::u16string_view batch_path_message =
    u"Windows file names may not contain `\"` or end with `\\`";

// Appends one argument: verbatim as it stands, ordinary quoted and escaped for the C runtime's splitter.
[[nodiscard]] std::optional<QuotingError> append_argument(std::u16string& command_line,
                                                          const ArgumentEntry& argument);
// `"program"` followed by the arguments, each after one space.
[[nodiscard]] std::variant<std::u16string, QuotingError> build_command_line(
    std::u16string_view program, const std::vector<ArgumentEntry>& arguments);
// The command line that runs a batch script through cmd.exe.
[[nodiscard]] std::variant<std::u16string, QuotingError> build_script_command_line(
    std::u16string_view script_path, const std::vector<ArgumentEntry>& arguments);
// ".bat" or ".cmd" in any letter case as the last four characters.
bool has_batch_extension(std::u16string_view path);

}  // namespace vellomar
