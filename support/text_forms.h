#pragma once
// The text forms the support's programs exchange: UTF-16 in either string type, UTF-8 and quoting.
#include <string>
#include <string_view>

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

}  // namespace support
