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
// Names one file whatever the current directory: `C:\x`, `\\server\share\x`, `\\?\x`, `\??\x`.
// Not `x`, `.\x`, `\x` (rooted on the current drive) or `C:x` (relative to drive C's directory).
bool is_fully_qualified(std::u16string_view path);

// The value without a leading `\\?\`, as an ordinary path: `\\?\C:\x` -> `C:\x`,
// `\\?\UNC\srv\share\x` -> `\\srv\share\x`.
std::u16string strip_verbatim_prefix(std::u16string_view path);

// The verbatim form of an absolute path as GetFullPathNameW writes it: `C:\x` -> `\\?\C:\x`,
// `\\.\x` -> `\\?\x`, `\\srv\x` -> `\\?\UNC\srv\x`; verbatim paths and other forms stay.
std::u16string with_verbatim_prefix(std::u16string_view absolute_path);

// The path without its last component, or nothing when there is no removable component.
std::optional<std::u16string> parent_path(std::u16string_view path);

// `directory` and `name` with one `\` between them: `C:\` + `x` is `C:\x`, `C:\d` + `x` is `C:\d\x`.
std::u16string join_path(std::u16string_view directory, std::u16string_view name);

// Every path the helper hands to the system is first made fully qualified, once; this is the one
// rule for what else it needs there. Rules, for a fully qualified path:
// - a verbatim path (`\\?\`, `\??\`) is taken as it stands and needs nothing;
// - below 247 units a path reaches every call as it stands;
// - from 247 units it needs the long form, `\\?\` in front of its absolute form, except as the
//   program path of CreateProcessW from 260 units on, which that call takes only as it stands.
// `C:\App\app.exe` needs nothing; `C:\` followed by 250 units needs the long form for the file
// system and for CreateProcessW, followed by 300 units for the file system only.
enum class PathUse { file_system, program };
bool needs_long_form(std::u16string_view fully_qualified_path, PathUse use);

// The installation directory as the installer's /D= argument carries it: without trailing
// separators (`C:\App\` -> `C:\App`, `C:\` -> `C:`), with its own units.
std::u16string install_dir_argument(std::u16string_view directory);

}  // namespace vellomar
