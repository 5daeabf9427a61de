#include "platform/win32_queries.h"

#include "platform/win32.h"

namespace vellomar {

namespace {

constexpr std::size_t initial_capacity = MAX_PATH + 1;

// A query that reported zero characters: an empty result when it left the last error at 0,
// otherwise a failure whose last error stays set for the caller.
std::optional<std::u16string> empty_or_failure(DWORD error) {
    if (error != 0) {
        SetLastError(error);
        return std::nullopt;
    }
    return std::u16string();
}

}  // namespace

// Too small: returns the buffer size itself (the text truncated); otherwise the count without the NUL.
std::optional<std::u16string> module_file_name() {
    std::wstring buffer(initial_capacity, L'\0');
    for (;;) {
        SetLastError(0);
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        const DWORD error = GetLastError();
        if (length == 0) {
            return empty_or_failure(error);
        }
        if (length < buffer.size()) {
            return from_wide(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Too small: returns the size needed including the NUL; otherwise the count without it.
std::optional<std::u16string> system_directory() {
    std::wstring buffer(initial_capacity, L'\0');
    for (;;) {
        SetLastError(0);
        const UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
        const DWORD error = GetLastError();
        if (length == 0) {
            return empty_or_failure(error);
        }
        if (length < buffer.size()) {
            return from_wide(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

// Too small: returns the size needed including the NUL; otherwise the count without it.
std::optional<std::u16string> windows_directory() {
    std::wstring buffer(initial_capacity, L'\0');
    for (;;) {
        SetLastError(0);
        const UINT length = GetWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
        const DWORD error = GetLastError();
        if (length == 0) {
            return empty_or_failure(error);
        }
        if (length < buffer.size()) {
            return from_wide(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

// Too small: returns the size needed including the NUL; otherwise the count without it.
std::optional<std::u16string> full_path_name(std::u16string_view path) {
    const std::wstring wide_path = to_wide(path);
    std::wstring buffer(initial_capacity, L'\0');
    for (;;) {
        SetLastError(0);
        const DWORD length =
            GetFullPathNameW(wide_path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        const DWORD error = GetLastError();
        if (length == 0) {
            return empty_or_failure(error);
        }
        if (length < buffer.size()) {
            return from_wide(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

// Too small: returns the size needed including the NUL; otherwise the count without it. An unset
// variable gives 0 with ERROR_ENVVAR_NOT_FOUND, a set but empty one 0 with no error.
std::optional<std::u16string> environment_variable(std::u16string_view name) {
    const std::wstring wide_name = to_wide(name);
    std::wstring buffer(initial_capacity, L'\0');
    for (;;) {
        SetLastError(0);
        const DWORD length =
            GetEnvironmentVariableW(wide_name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        const DWORD error = GetLastError();
        if (length == 0) {
            return empty_or_failure(error);
        }
        if (length < buffer.size()) {
            return from_wide(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

}  // namespace vellomar
