#pragma once
// The one way Win32 enters the program: the platform files include this, the core never does.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winternl.h>

#include <cstddef>
#include <string>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide strings must be UTF-16 code units");

namespace vellomar {

// The helper's own opens never stand in the way of anyone else's, the application's and the
// installer's included.
inline constexpr DWORD file_share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The bridge between the program's UTF-16 strings and Win32's wide strings: the same code units,
// so a pointer is reinterpreted rather than the text copied. The caller has already rejected
// embedded NULs where they matter.
inline const wchar_t* as_wcstr(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline wchar_t* as_wbuffer(std::u16string& buffer) {
    return reinterpret_cast<wchar_t*>(buffer.data());
}

inline std::u16string from_wide(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace vellomar
