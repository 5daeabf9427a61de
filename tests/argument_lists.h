#pragma once
// Argument lists for the quoting round trips, through the core's own splitter and through real
// children. Standard C++ only, so that the native core tests use it too.
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/quoting.h"

namespace support {

inline vellomar::ArgumentEntry ordinary(std::u16string text) { return {std::move(text), false}; }

// Up to six arguments, each up to eight of the pieces that matter to the quoting rules. No line
// feed: child_probe's records are lines, and to the quoting it is a character like any other.
inline std::vector<vellomar::ArgumentEntry> random_arguments(std::mt19937& random) {
    static const std::u16string pieces[] = {
        u" ",  u"\t", u"\"", u"\\", u"\\\\", u"\\\\\\", u"a",      u"Z9", u"\u65e5\u672c", u"\xD800",
        u"\xDC00", u"\xD83D\xDE00", u"%", u"/D=x", u"'", u"\"\"",
    };
    std::uniform_int_distribution<int> count(0, 6);
    std::uniform_int_distribution<int> length(0, 8);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::vector<vellomar::ArgumentEntry> arguments(static_cast<std::size_t>(count(random)));
    for (vellomar::ArgumentEntry& argument : arguments) {
        for (int n = length(random); n > 0; --n) {
            argument.text += pieces[pick(random)];
        }
    }
    return arguments;
}

}  // namespace support
