#pragma once
// The one way Win32 enters the program: platform files and the entry point include this,
// the pure text files never do.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide strings must be UTF-16 code units");

namespace vellomar {

// NUL-terminated copy for a Win32 call; the caller has already rejected embedded NULs where it matters.
inline std::wstring to_wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

inline std::u16string from_wide(const wchar_t* text, size_t length) {
    return std::u16string(text, text + length);
}

inline std::u16string from_wide(const wchar_t* text) {
    return from_wide(text, text ? std::wcslen(text) : 0);
}

}  // namespace vellomar
