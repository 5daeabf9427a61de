#include "core/options.h"

#include <cstddef>

#include "core/paths.h"
#include "core/text.h"

namespace vellomar {

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
    return parse_decimal(text);
}

std::variant<UpdateOptions, OptionError> build_options(const std::vector<std::u16string>& arguments) {
    const std::optional<std::u16string> pid_text = find_option_value(arguments, option_name::pid);
    if (!pid_text) {
        return OptionError::missing_pid;
    }
    // Digits only, so a value with unpaired surrogates is rejected here as well.
    const std::optional<std::uint32_t> pid = parse_pid(*pid_text);
    if (!pid) {
        return OptionError::invalid_pid;
    }
    const std::optional<std::u16string> installer = find_option_value(arguments, option_name::installer);
    if (!installer) {
        return OptionError::missing_installer;
    }

    UpdateOptions options;
    options.pid = *pid;
    options.installer = strip_verbatim_prefix(*installer);
    if (const std::optional<std::u16string> launch = find_option_value(arguments, option_name::launch)) {
        options.launch = strip_verbatim_prefix(*launch);
    }
    if (const std::optional<std::u16string> install_dir = find_option_value(arguments, option_name::install_dir)) {
        options.install_dir = strip_verbatim_prefix(*install_dir);
    } else if (options.launch) {
        options.install_dir = parent_path(*options.launch);
    }
    const std::optional<std::u16string> version = find_option_value(arguments, option_name::version);
    if (version && is_valid_utf16(*version)) {
        options.version = *version;
    }
    return options;
}

}  // namespace vellomar
