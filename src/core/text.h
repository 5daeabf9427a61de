#pragma once
// UTF-16 text helpers shared by the pure logic. Values from the command line may hold unpaired
// surrogates: paths keep them, anything shown to a person gets U+FFFD in their place.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellomar {

// The code point at `index` and how many units it takes; an unpaired surrogate stands for itself.
struct CodePoint {
    char32_t value;
    std::size_t length;
};
CodePoint code_point_at(std::u16string_view text, std::size_t index);

void append_utf16(std::u16string& out, char32_t code_point);

// True when every surrogate is part of a well-formed pair.
bool is_valid_utf16(std::u16string_view text);

// Unpaired surrogates replaced by U+FFFD; everything else unchanged.
std::u16string to_display_text(std::u16string_view text);

// UTF-8 bytes of the display text (unpaired surrogates become U+FFFD). A byte buffer rather than a
// std::string, whose code the C++ library would otherwise add to the helper (about 22 KB).
std::vector<char> to_utf8(std::u16string_view text);

// Only A-Z are changed: case-insensitive names in paths and extensions are ASCII.
char16_t ascii_lower(char16_t unit);

// One or more ASCII digits and nothing else, at most 4294967295.
std::optional<std::uint32_t> parse_decimal(std::u16string_view digits);

// Signed 32-bit decimal, as exit codes and OS error codes are written in messages.
std::u16string decimal(std::int32_t value);
// Unsigned 32-bit decimal, as process ids are written on command lines.
std::u16string unsigned_decimal(std::uint32_t value);

// The last characters of `text` equal `suffix` (given in lower case), ignoring ASCII letter case:
// file-name extensions compare so.
bool ends_with_ignoring_case(std::u16string_view text, std::u16string_view suffix);

}  // namespace vellomar
