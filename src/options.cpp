#include "options.h"

#include <cstddef>

#include "text.h"

namespace vellomar {
namespace {

bool is_separator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

bool is_ascii_letter(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
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
    if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == u':') {
        return 2;
    }
    if (path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2])) {
        const std::size_t server_end = skip_name(path, 2);
        const std::size_t share_start = skip_separators(path, server_end);
        return share_start == path.size() ? server_end : skip_name(path, share_start);
    }
    return 0;
}

}  // namespace

std::optional<std::u16string> find_option_value(const std::vector<std::u16string>& arguments,
                                                std::u16string_view name) {
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == name) {
            return arguments[i + 1];
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> parse_pid(std::u16string_view text) {
    if (!text.empty() && text.front() == u'+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char16_t unit : text) {
        if (unit < u'0' || unit > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (unit - u'0');
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::u16string strip_verbatim_prefix(std::u16string_view path) {
    constexpr std::u16string_view verbatim_prefix = u"\\\\?\\";
    // Decided on the text form; the rest is returned in that form too.
    const std::u16string text = to_display_text(path);
    if (text.size() > 3 && text.compare(0, verbatim_prefix.size(), verbatim_prefix) == 0) {
        return text.substr(verbatim_prefix.size());
    }
    return std::u16string(path);
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

std::variant<UpdateOptions, OptionError> build_options(const std::vector<std::u16string>& arguments) {
    const std::optional<std::u16string> pid_text = find_option_value(arguments, u"--pid");
    if (!pid_text) {
        return OptionError::missing_pid;
    }
    // Digits only, so a value with unpaired surrogates is rejected here as well.
    const std::optional<std::uint32_t> pid = parse_pid(*pid_text);
    if (!pid) {
        return OptionError::invalid_pid;
    }
    const std::optional<std::u16string> installer = find_option_value(arguments, u"--installer");
    if (!installer) {
        return OptionError::missing_installer;
    }

    UpdateOptions options;
    options.pid = *pid;
    options.installer = strip_verbatim_prefix(*installer);
    if (const std::optional<std::u16string> launch = find_option_value(arguments, u"--launch")) {
        options.launch = strip_verbatim_prefix(*launch);
    }
    if (const std::optional<std::u16string> install_dir = find_option_value(arguments, u"--install-dir")) {
        options.install_dir = strip_verbatim_prefix(*install_dir);
    } else if (options.launch) {
        options.install_dir = parent_path(*options.launch);
    }
    const std::optional<std::u16string> version = find_option_value(arguments, u"--version");
    if (version && is_valid_utf16(*version)) {
        options.version = *version;
    }
    return options;
}

}  // namespace vellomar
