#include "core/paths.h"

#include "core/text.h"

namespace vellomar {
namespace {

// Any non-separator unit and `:` open a drive, as the system reads paths: `C:`, also `1:`.
bool has_drive(std::u16string_view path) {
    return path.size() >= 2 && !is_separator(path[0]) && path[1] == u':';
}

// `\\server\share`, `\\.\device`, and the same with `/` in any mix.
bool has_two_leading_separators(std::u16string_view path) {
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

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

bool is_fully_qualified(std::u16string_view path) {
    return (has_drive(path) && path.size() >= 3 && is_separator(path[2])) || has_two_leading_separators(path) ||
           starts_with(path, nt_object_prefix);
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

bool needs_long_form(std::u16string_view fully_qualified_path, PathUse use) {
    const std::size_t length = fully_qualified_path.size();
    if (is_verbatim_path(fully_qualified_path) || length < long_path_units) {
        return false;
    }
    return use == PathUse::file_system || length < max_path_units;
}

std::u16string install_dir_argument(std::u16string_view directory) {
    while (!directory.empty() && is_separator(directory.back())) {
        directory.remove_suffix(1);
    }
    return std::u16string(directory);
}

std::u16string join_path(std::u16string_view directory, std::u16string_view name) {
    std::u16string path(directory);
    if (!path.empty() && !is_separator(path.back())) {
        path += u'\\';
    }
    path += name;
    return path;
}

}  // namespace vellomar
