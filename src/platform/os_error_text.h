#pragma once
// The text of an OS error as the helper's messages carry it (FormatMessageW); the pieces that need
// no system call are in core/system_message.h. Standard types only.
#include <cstdint>
#include <string>

namespace vellomar {

// The system's message for an OS error code, then " (os error N)".
std::u16string os_error_text(std::uint32_t code);

}  // namespace vellomar
