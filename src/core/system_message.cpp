#include "core/system_message.h"

#include "core/text.h"

namespace vellomar {

std::u16string format_failure_message(std::uint32_t code, std::uint32_t format_error) {
    return u"OS Error " + decimal(static_cast<std::int32_t>(code)) + u" (FormatMessageW() returned error " +
           decimal(static_cast<std::int32_t>(format_error)) + u")";
}

// Only the line ends and padding the system appends are trimmed; a final "." or vertical tab stays.
std::u16string system_message(std::u16string_view returned, std::uint32_t code) {
    if (!is_valid_utf16(returned)) {
        return u"OS Error " + decimal(static_cast<std::int32_t>(code)) + u" (FormatMessageW() returned invalid UTF-16)";
    }
    const std::size_t end = returned.find_last_not_of(u" \t\n\f\r");
    return std::u16string(returned.substr(0, end == std::u16string_view::npos ? 0 : end + 1));
}

std::u16string with_os_error_suffix(std::u16string_view message, std::uint32_t code) {
    return std::u16string(message) + u" (os error " + decimal(static_cast<std::int32_t>(code)) + u")";
}

}  // namespace vellomar
