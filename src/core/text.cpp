#include "core/text.h"

#include <cstddef>

namespace vellomar {
namespace {

constexpr char16_t replacement_character = u'\uFFFD';

bool is_surrogate(char32_t value) {
    return value >= 0xD800 && value <= 0xDFFF;
}

void append_utf8(std::vector<char>& out, char32_t code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
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

std::vector<char> to_utf8(std::u16string_view text) {
    std::vector<char> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint code_point = display_code_point_at(text, i);
        append_utf8(out, code_point.value);
        i += code_point.length;
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

std::u16string unsigned_decimal(std::uint32_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::u16string decimal(std::int32_t value) {
    // Negated in unsigned arithmetic, where the magnitude of INT32_MIN is representable.
    const std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    std::u16string digits = unsigned_decimal(magnitude);
    if (value < 0) {
        digits.insert(digits.begin(), u'-');
    }
    return digits;
}

bool ends_with_ignoring_case(std::u16string_view text, std::u16string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    const std::u16string_view tail = text.substr(text.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (ascii_lower(tail[i]) != suffix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace vellomar
