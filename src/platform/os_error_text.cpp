#include "platform/os_error_text.h"

#include "core/system_message.h"
#include "platform/win32.h"

namespace vellomar {

std::u16string os_error_text(std::uint32_t code) {
    constexpr DWORD capacity = 2048;
    wchar_t buffer[capacity];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, capacity, nullptr);
    if (length == 0) {
        const DWORD error = GetLastError();
        return with_os_error_suffix(format_failure_message(code, error), code);
    }
    return with_os_error_suffix(system_message(from_wide(buffer, length), code), code);
}

}  // namespace vellomar
