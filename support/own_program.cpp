#include "own_program.h"

#include "platform/win32.h"

namespace support {

std::wstring own_path() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::wstring own_directory() {
    const std::wstring path = own_path();
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// GetCurrentDirectoryW counts the NUL when the buffer is too small, and not when it fits.
std::wstring current_directory() {
    std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
    directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
    return directory;
}

bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace support
