#pragma once
// Generated from the Unicode Character Database by tools/gen_unicode_tables.py.
#include <cstdint>

namespace vellomar {

bool is_grapheme_extend(std::uint32_t code_point);
// Printable as a debug rendering understands it: not a control, format, separator other than the
// ASCII space, surrogate, private-use or unassigned code point.
bool is_printable(std::uint32_t code_point);

}  // namespace vellomar
