#pragma once
// What every program of the support shares, on kernel32 alone so that child_probe stays as light to
// start as an installer stand-in must be: the text forms, the one clock, the programs' own folder.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace support {

// The same UTF-16 units as the other string type.
std::wstring wide(std::u16string_view text);
std::u16string u16(std::wstring_view text);

// By the helper's own encoder: unpaired surrogates become U+FFFD.
std::string to_utf8(std::wstring_view text);
// Invalid sequences become U+FFFD.
std::wstring from_utf8(std::string_view text);

// `"text"`: a path as the first word of a command line, or an argument with spaces but no quote.
std::wstring in_quotes(std::wstring_view text);

// The one clock: milliseconds since the Unix epoch, as child_probe stamps its records, so that a
// time taken here and a record's time can be compared and subtracted.
std::uint64_t epoch_ms();
std::uint64_t epoch_ms(const FILETIME& time);

// Asks `done` every 20 ms until it holds or `limit_ms` have passed; its last answer.
bool poll_until(const std::function<bool()>& done, std::uint32_t limit_ms);

// The running executable, and its directory with a trailing backslash.
std::wstring own_path();
std::wstring own_directory();

std::wstring current_directory();

bool running_under_wine();

}  // namespace support

// Support programs use the wide console entry point, which the system headers do not declare.
int wmain(int argc, wchar_t** argv);
