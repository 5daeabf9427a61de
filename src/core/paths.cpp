#include "core/paths.h"

#include "core/text.h"

namespace vellomar {
namespace {

std::size_t skip_separators(std::u16string_view path, std::size_t index) {
    while (index < path.size() && is_separator(path[index])) {
        ++index;
    }
    return index;
}

std::size_t skip_name(std::u16string_view path, std::size_t index) {
    while (index < path.size() && !is_separator(path[index])) {
        ++index;
    }
    return index;
}

// Length of the part no component may remove: a drive `C:`, or a share `\\server\share`
// (a lone `\\server` counts too, since it names no directory of its own). 0 when there is none.
std::size_t prefix_length(std::u16string_view path) {
    if (has_drive(path)) {
        return 2;
    }
    if (path.size() >= 3 && has_two_leading_separators(path) && !is_separator(path[2])) {
        const std::size_t server_end = skip_name(path, 2);
        const std::size_t share_start = skip_separators(path, server_end);
        return share_start == path.size() ? server_end : skip_name(path, share_start);
    }
    return 0;
}

}  // namespace

bool is_separator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool contains_nul(std::u16string_view text) {
    return text.find(u'\0') != std::u16string_view::npos;
}

bool is_verbatim_path(std::u16string_view path) {
    return starts_with(path, verbatim_prefix) || starts_with(path, nt_object_prefix);
}

bool has_drive(std::u16string_view path) {
    return path.size() >= 2 && !is_separator(path[0]) && path[1] == u':';
}

bool is_drive_absolute(std::u16string_view path) {
    return has_drive(path) && (path.size() == 2 || is_separator(path[2]));
}

bool is_fully_qualified(std::u16string_view path) {
    return (has_drive(path) && path.size() >= 3 && is_separator(path[2])) || has_two_leading_separators(path) ||
           starts_with(path, nt_object_prefix);
}

bool has_two_leading_separators(std::u16string_view path) {
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

// `\\?\C:\x` -> `C:\x`; `\\?\UNC\srv\share` -> `\\srv\share`, since `UNC\srv\share` alone would be a
// relative path; `\\.\x` and `//?/x` stay. The value keeps its own units, unpaired surrogates too,
// so that it still names the same file.
std::u16string strip_verbatim_prefix(std::u16string_view path) {
    if (!starts_with(path, verbatim_prefix)) {
        return std::u16string(path);
    }
    const std::u16string_view rest = path.substr(verbatim_prefix.size());
    if (rest.size() >= 4 && ascii_lower(rest[0]) == u'u' && ascii_lower(rest[1]) == u'n' &&
        ascii_lower(rest[2]) == u'c' && rest[3] == u'\\') {
        return u"\\\\" + std::u16string(rest.substr(4));
    }
    return std::u16string(rest);
}

std::u16string with_verbatim_prefix(std::u16string_view absolute_path) {
    if (is_verbatim_path(absolute_path)) {
        return std::u16string(absolute_path);
    }
    if (starts_with(absolute_path, u"\\\\.\\")) {
        return std::u16string(verbatim_prefix).append(absolute_path.substr(4));
    }
    if (starts_with(absolute_path, u"\\\\")) {
        return std::u16string(verbatim_prefix).append(u"UNC\\").append(absolute_path.substr(2));
    }
    if (has_drive(absolute_path) && absolute_path.size() >= 3 && absolute_path[2] == u'\\') {
        return std::u16string(verbatim_prefix).append(absolute_path);
    }
    return std::u16string(absolute_path);
}

// Parent rules, with `\` and `/` both separators:
// - a drive `C:`, a root separator and a share `\\server\share` are never removed;
// - repeated separators count as one and a trailing separator adds no empty component;
// - `.` components are skipped, except one that opens a path without a root;
// - the last remaining component is removed together with the separators before it.
// `C:\App\app.exe` -> `C:\App`, `C:\app.exe` -> `C:\`, `C:\App\` -> `C:\`, `app.exe` -> ``,
// `\\server\share\x` -> `\\server\share\`, and `C:\`, `C:` or `` have no parent.
std::optional<std::u16string> parent_path(std::u16string_view path) {
    const std::size_t prefix_end = prefix_length(path);
    const bool has_root = prefix_end < path.size() && is_separator(path[prefix_end]);
    const std::size_t root_end = has_root ? prefix_end + 1 : prefix_end;

    std::optional<std::size_t> last_end;
    std::size_t parent_end = root_end;
    std::size_t start = skip_separators(path, root_end);
    while (start < path.size()) {
        const std::size_t end = skip_name(path, start);
        const bool leading_dot = !has_root && start == prefix_end;
        if (path.substr(start, end - start) != u"." || leading_dot) {
            parent_end = last_end.value_or(root_end);
            last_end = end;
        }
        start = skip_separators(path, end);
    }
    if (!last_end) {
        return std::nullopt;
    }
    return std::u16string(path.substr(0, parent_end));
}

// Rules, in order:
//   empty, or already \\?\ or \??\            -> used as given
//   247 units or longer                       -> made absolute (so it can become verbatim)
//   C:, C:\…, C:/…, or two leading separators -> used as given
//   anything else (x, .\x, \x, C:x)           -> made absolute
bool needs_absolute_path(std::u16string_view path) {
    if (path.empty() || is_verbatim_path(path)) {
        return false;
    }
    if (path.size() >= long_path_units) {
        return true;
    }
    return !is_drive_absolute(path) && !has_two_leading_separators(path);
}

// Program path rules:
// - 260 units or more: as it stands.
// - `\\?\X:\...` and `\\?\UNC\...`: the plain form `X:\...` or `\\...` when the system would not
//   change it, otherwise as it stands.
// - Other verbatim paths (`\\?\`, `\??\`) and the empty path: as it stands.
// - Below 247 units, `X:`, `X:\...`, `X:/...` and anything with two leading separators: as it stands.
// - Anything else (relative, drive-relative, rooted, or 247-259 units): made absolute.
OsPathPlan plan_os_path(std::u16string_view path) {
    if (path.size() >= max_path_units) {
        return {};
    }
    if (starts_with(path, verbatim_prefix) && path.size() >= 7 && path[5] == u':' && path[6] == u'\\') {
        return {OsPathRule::unwrap_if_exact, std::u16string(path.substr(4))};
    }
    if (starts_with(path, u"\\\\?\\UNC\\")) {
        return {OsPathRule::unwrap_if_exact, u"\\\\" + std::u16string(path.substr(8))};
    }
    if (path.empty() || is_verbatim_path(path)) {
        return {};
    }
    if (path.size() < long_path_units && (is_drive_absolute(path) || has_two_leading_separators(path))) {
        return {};
    }
    return {OsPathRule::make_absolute, {}};
}

std::optional<std::u16string> working_directory_candidate(std::u16string_view directory) {
    if (starts_with(directory, u"\\\\?\\UNC")) {
        return u"\\" + std::u16string(directory.substr(7));
    }
    if (starts_with(directory, verbatim_prefix)) {
        return std::u16string(directory.substr(4));
    }
    return std::nullopt;
}

}  // namespace vellomar
