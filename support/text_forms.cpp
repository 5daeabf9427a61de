#include "text_forms.h"

#include <vector>

#include "core/text.h"
#include "platform/win32.h"

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

}  // namespace support
