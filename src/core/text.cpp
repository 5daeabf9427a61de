#include "core/text.h"

#include <cstddef>

namespace vellomar {
namespace {

constexpr char16_t replacement_character = u'\uFFFD';

bool is_surrogate(char32_t value) {
    return value >= 0xD800 && value <= 0xDFFF;
}

void append_utf8(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

// Bytes in the UTF-8 sequence announced by `lead`; 0 for a byte that cannot start one.
std::size_t utf8_sequence_length(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC0 && lead < 0xE0) {
        return 2;
    }
    if (lead >= 0xE0 && lead < 0xF0) {
        return 3;
    }
    if (lead >= 0xF0 && lead < 0xF8) {
        return 4;
    }
    return 0;
}

// One UTF-8 sequence starting at `index`. Stray or truncated sequences, overlong forms,
// surrogates and values above U+10FFFF decode as U+FFFD covering only the lead byte.
CodePoint decode_utf8(std::string_view text, std::size_t index) {
    constexpr char32_t smallest_for_length[] = {0, 0, 0x80, 0x800, 0x10000};
    const auto lead = static_cast<unsigned char>(text[index]);
    const std::size_t length = utf8_sequence_length(lead);
    if (length == 1) {
        return {lead, 1};
    }
    if (length == 0 || index + length > text.size()) {
        return {replacement_character, 1};
    }
    char32_t code_point = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto trail = static_cast<unsigned char>(text[index + i]);
        if ((trail & 0xC0) != 0x80) {
            return {replacement_character, 1};
        }
        code_point = (code_point << 6) | (trail & 0x3F);
    }
    if (code_point < smallest_for_length[length] || code_point > 0x10FFFF || is_surrogate(code_point)) {
        return {replacement_character, 1};
    }
    return {code_point, length};
}

// The code point at `index` as text is shown and written out: an unpaired surrogate is U+FFFD.
CodePoint display_code_point_at(std::u16string_view text, std::size_t index) {
    const CodePoint code_point = code_point_at(text, index);
    return is_surrogate(code_point.value) ? CodePoint{replacement_character, code_point.length} : code_point;
}

}  // namespace

CodePoint code_point_at(std::u16string_view text, std::size_t index) {
    const char16_t unit = text[index];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    if (high && index + 1 < text.size() && text[index + 1] >= 0xDC00 && text[index + 1] <= 0xDFFF) {
        return {0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{text[index + 1]} - 0xDC00), 2};
    }
    return {unit, 1};
}

void append_utf16(std::u16string& out, char32_t code_point) {
    if (code_point < 0x10000) {
        out += static_cast<char16_t>(code_point);
    } else {
        const char32_t offset = code_point - 0x10000;
        out += static_cast<char16_t>(0xD800 + (offset >> 10));
        out += static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
    }
}

bool is_valid_utf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint code_point = code_point_at(text, i);
        if (is_surrogate(code_point.value)) {
            return false;
        }
        i += code_point.length;
    }
    return true;
}

std::u16string to_display_text(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint code_point = display_code_point_at(text, i);
        append_utf16(out, code_point.value);
        i += code_point.length;
    }
    return out;
}

std::string to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint code_point = display_code_point_at(text, i);
        append_utf8(out, code_point.value);
        i += code_point.length;
    }
    return out;
}

std::u16string from_utf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint decoded = decode_utf8(text, i);
        append_utf16(out, decoded.value);
        i += decoded.length;
    }
    return out;
}

char16_t ascii_lower(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

std::optional<std::uint32_t> parse_decimal(std::u16string_view digits) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char16_t unit : digits) {
        if (unit < u'0' || unit > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (unit - u'0');
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::u16string decimal(std::int32_t value) {
    // Widened first so that the magnitude of INT32_MIN is representable.
    const std::int64_t wide = value;
    std::uint64_t magnitude = static_cast<std::uint64_t>(wide < 0 ? -wide : wide);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    return wide < 0 ? u"-" + digits : digits;
}

}  // namespace vellomar
