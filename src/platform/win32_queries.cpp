#include "platform/win32_queries.h"

#include "core/command_line.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

constexpr std::size_t initial_capacity = MAX_PATH + 1;

enum class StringQuery { module_file_name, system_directory, full_path_name };

// One call of a query into `buffer`. GetModuleFileNameW reports "too small" by returning the
// capacity itself (the text cut); the others return the size needed including the NUL. On success
// all return the count without the NUL.
DWORD call_query(StringQuery query, const std::u16string& input, std::u16string& buffer) {
    const auto capacity = static_cast<DWORD>(buffer.size());
    switch (query) {
    case StringQuery::module_file_name: return GetModuleFileNameW(nullptr, as_wbuffer(buffer), capacity);
    case StringQuery::system_directory: return GetSystemDirectoryW(as_wbuffer(buffer), capacity);
    case StringQuery::full_path_name: return GetFullPathNameW(as_wcstr(input), capacity, as_wbuffer(buffer), nullptr);
    }
    return 0;
}

// Grows the buffer until the whole result fits.
OsResult<std::u16string> run_query(StringQuery query, const std::u16string& input) {
    std::u16string buffer(initial_capacity, u'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = call_query(query, input, buffer);
        const DWORD error = GetLastError();
        if (length == 0) {
            // Zero characters: an empty result when the last error stayed 0, otherwise a failure.
            return {{}, error};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return {buffer};
        }
        buffer.resize(query == StringQuery::module_file_name ? buffer.size() * 2 : length);
    }
}

}  // namespace

OsResult<std::u16string> module_file_name() {
    return run_query(StringQuery::module_file_name, {});
}

OsResult<std::u16string> system_directory() {
    return run_query(StringQuery::system_directory, {});
}

OsResult<std::u16string> full_path_name(const std::u16string& path) {
    return run_query(StringQuery::full_path_name, path);
}

std::u16string fully_qualified_path(const std::u16string& path) {
    if (is_fully_qualified(path)) {
        return path;
    }
    const OsResult<std::u16string> absolute = full_path_name(path);
    return absolute.ok() ? absolute.value : path;
}

// The absolute form drops what the verbatim prefix would otherwise keep literally (`.`, `..`,
// `/`, trailing dots and spaces).
OsResult<std::u16string> system_path(const std::u16string& fully_qualified, PathUse use) {
    if (!needs_long_form(fully_qualified, use)) {
        return {fully_qualified};
    }
    OsResult<std::u16string> absolute = full_path_name(fully_qualified);
    if (absolute.ok()) {
        absolute.value = with_verbatim_prefix(absolute.value);
    }
    return absolute;
}

// The module path is asked for on every run, for split_command_line alone decides that an empty
// command line stands for it; an unreadable one is empty.
std::vector<std::u16string> process_arguments() {
    const wchar_t* command_line = GetCommandLineW();
    const std::size_t length = command_line != nullptr ? wcslen(command_line) : 0;
    return split_command_line(from_wide(command_line, length), module_file_name().value);
}

}  // namespace vellomar
