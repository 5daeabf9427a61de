#pragma once
// The text of an OS error as the helper's messages carry it: the system's message for the code,
// then " (os error N)". The pieces that need no system call live here.
#include <cstdint>
#include <string>
#include <string_view>

namespace vellomar {

// The message when FormatMessageW failed with `format_error`.
std::u16string format_failure_message(std::uint32_t code, std::uint32_t format_error);
// The message made from what FormatMessageW returned.
std::u16string system_message(std::u16string_view returned, std::uint32_t code);
// `message (os error N)`, N the code as a signed decimal.
std::u16string with_os_error_suffix(std::u16string_view message, std::uint32_t code);

}  // namespace vellomar
