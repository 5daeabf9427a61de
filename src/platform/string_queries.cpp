#include "platform/string_queries.h"

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

}  // namespace vellomar
