#pragma once
// UTF-16 text helpers shared by the pure logic. Values from the command line may hold unpaired
// surrogates: paths keep them, anything shown to a person gets U+FFFD in their place.
#include <cstdint>
#include <string>
#include <string_view>

namespace vellomar {

// True when every surrogate is part of a well-formed pair.
bool is_valid_utf16(std::u16string_view text);

// Unpaired surrogates replaced by U+FFFD; everything else unchanged.
std::u16string to_display_text(std::u16string_view text);

// UTF-8 bytes of the display text (unpaired surrogates become U+FFFD).
std::string to_utf8(std::u16string_view text);

// UTF-16 of UTF-8 text; only for literals and test data, invalid sequences give U+FFFD.
std::u16string from_utf8(std::string_view text);

// Signed 32-bit decimal, as exit codes and OS error codes are written in messages.
std::u16string decimal(std::int32_t value);

}  // namespace vellomar
