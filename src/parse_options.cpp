#include "parse_options.h"

#include <variant>

#include "command_line.h"
#include "error_report.h"
#include "messages.h"
#include "platform/win32.h"
#include "platform/win32_queries.h"

namespace vellomar {

std::vector<std::u16string> process_arguments() {
    const wchar_t* command_line = GetCommandLineW();
    if (command_line != nullptr && *command_line != L'\0') {
        return split_command_line(from_wide(command_line), {});
    }
    // Without a command line the program name is all there is; an unreadable one is empty.
    return split_command_line({}, module_file_name().value_or(std::u16string()));
}

UpdateOptions parse_options() {
    std::variant<UpdateOptions, OptionError> parsed = build_options(process_arguments());
    if (const OptionError* error = std::get_if<OptionError>(&parsed)) {
        fail(option_error_message(*error), 2);
    }
    return std::get<UpdateOptions>(std::move(parsed));
}

}  // namespace vellomar
