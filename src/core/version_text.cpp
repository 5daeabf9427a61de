#include "core/version_text.h"

#include <cstddef>

#include "core/text.h"

namespace vellomar {

namespace {

// The characters with the Unicode White_Space property; all lie in the Basic Multilingual Plane.
bool is_white_space(char16_t unit) {
    return (unit >= 0x0009 && unit <= 0x000D) || unit == 0x0020 || unit == 0x0085 || unit == 0x00A0 ||
           unit == 0x1680 || (unit >= 0x2000 && unit <= 0x200A) || unit == 0x2028 || unit == 0x2029 ||
           unit == 0x202F || unit == 0x205F || unit == 0x3000;
}

bool is_ascii_digit(char16_t unit) {
    return unit >= u'0' && unit <= u'9';
}

// An empty piece or one above the 32-bit range counts as 0.
std::uint32_t piece_value(std::u16string_view piece) {
    return parse_decimal(piece).value_or(0);
}

// The piece that starts at `start` and runs up to the next non-digit (or the end).
std::u16string_view digit_run(std::u16string_view text, std::size_t start) {
    std::size_t end = start;
    while (end < text.size() && is_ascii_digit(text[end])) {
        ++end;
    }
    return text.substr(start, end - start);
}

}  // namespace

std::u16string trim_version(std::u16string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && is_white_space(text[begin])) {
        ++begin;
    }
    std::size_t end = text.size();
    while (end > begin && is_white_space(text[end - 1])) {
        --end;
    }
    return std::u16string(text.substr(begin, end - begin));
}

// Every non-digit character is one separator, so `1..2` has an empty second piece; a character
// outside the Basic Multilingual Plane is one separator too, not two. Only the first two pieces
// count. Examples: `2.3.0` -> 2, 3; `v1.2` -> 0, 1; `3` -> 3, 0; `3😀7` -> 3, 7; `１.２` -> 0, 0.
VersionNumbers split_version(std::u16string_view text) {
    const std::u16string_view first = digit_run(text, 0);
    VersionNumbers numbers;
    numbers.major = piece_value(first);
    if (first.size() < text.size()) {
        const std::size_t separator_length = code_point_at(text, first.size()).length;
        numbers.minor = piece_value(digit_run(text, first.size() + separator_length));
    }
    return numbers;
}

}  // namespace vellomar
