#include "platform/process_arguments.h"

#include "core/command_line.h"
#include "platform/string_queries.h"
#include "platform/win32.h"

namespace vellomar {

std::vector<std::u16string> process_arguments() {
    const wchar_t* command_line = GetCommandLineW();
    if (command_line != nullptr && *command_line != L'\0') {
        return split_command_line(from_wide(command_line, wcslen(command_line)), {});
    }
    // Without a command line the program name is all there is; an unreadable one is empty.
    return split_command_line({}, module_file_name().value);
}

}  // namespace vellomar
