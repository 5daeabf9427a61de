#include "platform/process_arguments.h"

#include "core/command_line.h"
#include "platform/string_queries.h"
#include "platform/win32.h"

namespace vellomar {

// The module path is asked for on every run, for split_command_line alone decides that an empty
// command line stands for it; an unreadable one is empty.
std::vector<std::u16string> process_arguments() {
    const wchar_t* command_line = GetCommandLineW();
    const std::size_t length = command_line != nullptr ? wcslen(command_line) : 0;
    return split_command_line(from_wide(command_line, length), module_file_name().value);
}

}  // namespace vellomar
