#pragma once
// Every rule about the shape of a Windows path, in one place: separators, drives, the verbatim
// prefix, the length thresholds and the parent of a path. Lengths are UTF-16 units without the NUL.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vellomar {

// From this length on a path needs the verbatim prefix to reach the file system: a directory path
// must leave room for an 8.3 name within MAX_PATH (260 - 12 = 248 units with the NUL).
inline constexpr std::size_t long_path_units = 247;
// MAX_PATH. CreateProcessW takes a program path this long only as it stands.
inline constexpr std::size_t max_path_units = 260;

inline constexpr std::u16string_view verbatim_prefix = u"\\\\?\\";
inline constexpr std::u16string_view nt_object_prefix = u"\\??\\";

bool is_separator(char16_t unit);
bool starts_with(std::u16string_view text, std::u16string_view prefix);
bool contains_nul(std::u16string_view text);

// Starts with `\\?\` or `\??\`: the system takes such a path as it stands.
bool is_verbatim_path(std::u16string_view path);
// Any non-separator unit and `:` open a drive, as the system reads paths: `C:`, also `1:`.
bool has_drive(std::u16string_view path);
// `C:` alone or `C:` then a separator; `C:x` is relative to drive C's current directory.
bool is_drive_absolute(std::u16string_view path);
// Names one file whatever the current directory: `C:\x`, `\\server\share\x`, `\\?\x`, `\??\x`.
// Not `x`, `.\x`, `\x` (rooted on the current drive) or `C:x` (relative to drive C's directory).
bool is_fully_qualified(std::u16string_view path);
// `\\server\share`, `\\.\device`, and the same with `/` in any mix.
bool has_two_leading_separators(std::u16string_view path);

// The value without a leading `\\?\`, as an ordinary path: `\\?\C:\x` -> `C:\x`,
// `\\?\UNC\srv\share\x` -> `\\srv\share\x`.
std::u16string strip_verbatim_prefix(std::u16string_view path);

// The verbatim form of an absolute path as GetFullPathNameW writes it: `C:\x` -> `\\?\C:\x`,
// `\\.\x` -> `\\?\x`, `\\srv\x` -> `\\?\UNC\srv\x`; verbatim paths and other forms stay.
std::u16string with_verbatim_prefix(std::u16string_view absolute_path);

// The path without its last component, or nothing when there is no removable component.
std::optional<std::u16string> parent_path(std::u16string_view path);

// For the file probes and the package deletion: whether a path is made absolute (and then given
// the verbatim prefix when long) before the call. Relative paths and every path of 247 units or
// more are, so that long paths work whatever their form.
bool needs_absolute_path(std::u16string_view path);

// For the program path given to CreateProcessW, which differs on purpose: from 260 units a path is
// passed untouched (as the system's own launcher does), and a `\\?\` drive or UNC path is unwrapped
// when the plain form means the same, so that the child sees an ordinary path.
enum class OsPathRule {
    keep,             // passed as it stands
    unwrap_if_exact,  // the candidate is used when GetFullPathNameW returns it unchanged
    make_absolute,    // replaced by its absolute form, given the verbatim prefix when long
};
struct OsPathPlan {
    OsPathRule rule = OsPathRule::keep;
    std::u16string candidate;  // only for unwrap_if_exact
};
OsPathPlan plan_os_path(std::u16string_view path);

// For a working directory given as `\\?\C:\x` or `\\?\UNC\srv\x`: the plain form that replaces it
// when it is exact. `\\?\UNC\srv` -> `\\srv` (the `C` of UNC becomes `\`).
std::optional<std::u16string> working_directory_candidate(std::u16string_view directory);

}  // namespace vellomar
