#include "core/version_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace vellomar {
namespace {

// Every character with the Unicode White_Space property.
const std::u16string white_space =
    u"\u0009\u000A\u000B\u000C\u000D\u0020\u0085\u00A0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
    u"\u2007\u2008\u2009\u200A\u2028\u2029\u202F\u205F\u3000";

// Look like blanks or controls but lack the property.
const std::u16string not_white_space = u"\u0008\u000E\u001C\u001F\u0084\u180E\u1FFF\u200B\u200C\u2060\uFEFF\u3001";

TEST(TrimVersion, EveryWhiteSpaceCharacterIsRemovedFromBothEnds) {
    ASSERT_EQ(white_space.size(), 25u);
    for (const char16_t unit : white_space) {
        const std::u16string padded = std::u16string(1, unit) + u"2.5" + std::u16string(2, unit);
        EXPECT_EQ(trim_version(padded), u"2.5") << "U+" << std::hex << static_cast<int>(unit);
    }
}

TEST(TrimVersion, WhiteSpaceInsideTheTextStays) {
    for (const char16_t unit : white_space) {
        const std::u16string inner = u"2" + std::u16string(1, unit) + u"5";
        EXPECT_EQ(trim_version(u" " + inner + u" "), inner) << "U+" << std::hex << static_cast<int>(unit);
    }
}

TEST(TrimVersion, CharactersWithoutTheWhiteSpacePropertyStay) {
    for (const char16_t unit : not_white_space) {
        const std::u16string padded = std::u16string(1, unit) + u"2.5" + std::u16string(1, unit);
        EXPECT_EQ(trim_version(padded), padded) << "U+" << std::hex << static_cast<int>(unit);
    }
}

struct TrimCase {
    std::u16string input;
    std::u16string expected;
};

TEST(TrimVersion, Table) {
    const std::vector<TrimCase> cases = {
        {u" 2.5 ", u"2.5"},
        {u"2.3.0", u"2.3.0"},
        {u"", u""},
        {white_space, u""},
        {u"\r\n2.3.0\r\n", u"2.3.0"},
        {u"\u30002.3.0 beta\u3000", u"2.3.0 beta"},
        {u" \xD800 ", u"\xD800"},
        {u"\U0001F600 1.0 \U0001F600", u"\U0001F600 1.0 \U0001F600"},
    };
    for (const TrimCase& c : cases) {
        EXPECT_EQ(trim_version(c.input), c.expected);
    }
}

struct SplitCase {
    std::u16string input;
    std::uint32_t major;
    std::uint32_t minor;
};

TEST(SplitVersion, PiecesBetweenNonDigitsGiveMajorAndMinor) {
    const std::vector<SplitCase> cases = {
        {u"2.3.0", 2, 3},
        {u"10.20", 10, 20},
        {u"3", 3, 0},
        {u"1..2", 1, 0},
        {u"v1.2", 0, 1},
        {u"1.x", 1, 0},
        {u"1-beta.4", 1, 0},
        {u"4294967296.1", 0, 1},
        {u"\uFF11.\uFF12", 0, 0},
        {u"2.5", 2, 5},
        {u"2", 2, 0},
        {u"", 0, 0},
        {u".", 0, 0},
        {u"1.", 1, 0},
        {u".5", 0, 5},
        {u"1.2.3.4", 1, 2},
        {u"1,2", 1, 2},
        {u"1 2", 1, 2},
        {u"+1.2", 0, 1},
        {u"-1.2", 0, 1},
        {u"007.010", 7, 10},
        {u"4294967295.4294967295", 4294967295u, 4294967295u},
        {u"1.4294967296", 1, 0},
        {u"18446744073709551617.2", 0, 2},
        {u"00000000000000000000001.2", 1, 2},
        {u"1.2x", 1, 2},
        {u"1.\U0001F6002", 1, 0},
        {u"3\U0001F6007", 3, 7},
        {u"3\xD800" u"7", 3, 7},
    };
    for (const SplitCase& c : cases) {
        const VersionNumbers numbers = split_version(c.input);
        EXPECT_EQ(numbers.major, c.major) << testing::PrintToString(c.input);
        EXPECT_EQ(numbers.minor, c.minor) << testing::PrintToString(c.input);
    }
}

}  // namespace
}  // namespace vellomar
