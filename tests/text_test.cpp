#include "core/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellomar {
namespace {

const std::u16string lone_high(1, char16_t{0xD800});
const std::u16string lone_low(1, char16_t{0xDC00});

TEST(Text, UnpairedSurrogatesAreInvalidAndDisplayAsReplacementCharacter) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"", u""},
        {u"C:\\安装\U0001F600", u"C:\\安装\U0001F600"},
        {lone_high, u"\uFFFD"},
        {u"a" + lone_low + u"b", u"a\uFFFDb"},
        {lone_low + lone_high, u"\uFFFD\uFFFD"},
        {lone_high + lone_high + lone_low, u"\uFFFD\U00010000"},
    };
    for (const auto& [text, display] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(to_display_text(text), display);
        EXPECT_EQ(is_valid_utf16(text), text == display);
    }
}

TEST(Text, Utf8RoundTripsValidTextAndReplacesWhatIsNot) {
    EXPECT_EQ(to_utf8(u"a\u00E9\u5B89\U0001F600"), "a\xC3\xA9\xE5\xAE\x89\xF0\x9F\x98\x80");
    EXPECT_EQ(to_utf8(u"x" + lone_high), "x\xEF\xBF\xBD");
    EXPECT_EQ(from_utf8("a\xC3\xA9\xE5\xAE\x89\xF0\x9F\x98\x80"), u"a\u00E9\u5B89\U0001F600");
    EXPECT_EQ(from_utf8(std::string("\0", 1)), std::u16string(1, u'\0'));
    // Stray continuation, overlong form, encoded surrogate, truncated sequence.
    EXPECT_EQ(from_utf8("\x80"), u"\uFFFD");
    EXPECT_EQ(from_utf8("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(from_utf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(from_utf8("\xE5\xAE"), u"\uFFFD\uFFFD");
}

TEST(Text, DecimalIsSignedWithoutPadding) {
    EXPECT_EQ(decimal(0), u"0");
    EXPECT_EQ(decimal(2), u"2");
    EXPECT_EQ(decimal(-1073741819), u"-1073741819");
    EXPECT_EQ(decimal(INT32_MAX), u"2147483647");
    EXPECT_EQ(decimal(INT32_MIN), u"-2147483648");
}

}  // namespace
}  // namespace vellomar
