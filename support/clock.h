#pragma once
// The one clock of the support's programs, on kernel32 alone.
#include <cstdint>
#include <functional>

#include "platform/win32.h"

namespace support {

// Milliseconds since the Unix epoch, as child_probe stamps its records, so that a time taken here
// and a record's time can be compared and subtracted.
std::uint64_t epoch_ms();
std::uint64_t epoch_ms(const FILETIME& time);

// Asks `done` every 20 ms until it holds or `limit_ms` have passed; its last answer.
bool poll_until(const std::function<bool()>& done, std::uint32_t limit_ms);

}  // namespace support
