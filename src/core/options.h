#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vellomar {

// The parsed command line, never changed once built. `install_dir` is the sequence's main switch:
// absent (no --install-dir, and no --launch with a parent), the installer goes to the user through the shell at
// once; present but empty once trailing separators go (`\`, `""`, a bare `--launch app.exe`),
// each of the three silent runs fails with "安装目录无效" before the same fallback.
struct UpdateOptions {
    std::uint32_t pid = 0;
    std::u16string installer;  // without a leading `\\?\`, as are the paths below
    std::optional<std::u16string> launch;
    std::optional<std::u16string> install_dir;  // --install-dir, or the parent of --launch
    std::u16string version;  // as given; may be empty
};

// The helper's option names, in one place: the parser reads them and the handover library writes
// them, so a rename cannot leave the two disagreeing.
namespace option_name {
inline constexpr std::u16string_view pid = u"--pid";
inline constexpr std::u16string_view installer = u"--installer";
inline constexpr std::u16string_view launch = u"--launch";
inline constexpr std::u16string_view install_dir = u"--install-dir";
inline constexpr std::u16string_view version = u"--version";
}  // namespace option_name

// The three ways a command line can make an update impossible, in the order they are checked.
enum class OptionError { missing_pid, invalid_pid, missing_installer };

std::optional<std::u16string> find_option_value(const std::vector<std::u16string>& arguments,
                                                std::u16string_view name);

// Optional '+', then one or more ASCII digits, at most 4294967295; nothing else.
std::optional<std::uint32_t> parse_pid(std::u16string_view text);

std::variant<UpdateOptions, OptionError> build_options(const std::vector<std::u16string>& arguments);

}  // namespace vellomar
