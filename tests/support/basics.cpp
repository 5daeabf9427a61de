#include "basics.h"

#include <vector>

#include "core/text.h"

namespace support {

std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string u16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::string to_utf8(std::wstring_view text) {
    const std::vector<char> bytes = vellomar::to_utf8(u16(text));
    return std::string(bytes.begin(), bytes.end());
}

std::wstring from_utf8(std::string_view text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::wstring in_quotes(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

std::uint64_t epoch_ms(const FILETIME& time) {
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return ticks / 10000 - 11644473600000ull;
}

std::uint64_t epoch_ms() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return epoch_ms(now);
}

bool poll_until(const std::function<bool()>& done, std::uint32_t limit_ms) {
    const std::uint64_t deadline = epoch_ms() + limit_ms;
    for (;;) {
        if (done()) return true;
        if (epoch_ms() >= deadline) return false;
        Sleep(20);
    }
}

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
