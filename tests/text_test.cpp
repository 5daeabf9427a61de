#include "core/text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace vellomar {
namespace {

const std::u16string lone_high(1, char16_t{0xD800});
const std::u16string lone_low(1, char16_t{0xDC00});

TEST(Text, UnpairedSurrogatesAreInvalidAndDisplayAsReplacementCharacter) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"", u""},
        {u"C:\\安装\U0001F600\U0010FFFF", u"C:\\安装\U0001F600\U0010FFFF"},
        {lone_high, u"\uFFFD"},
        {u"a" + lone_low + u"b", u"a\uFFFDb"},
        {lone_low + lone_high, u"\uFFFD\uFFFD"},
        {lone_high + lone_high + lone_low, u"\uFFFD\U00010000"},
        {u"\uD7FF\uE000\uFFFF", u"\uD7FF\uE000\uFFFF"},
        {u"a" + lone_high, u"a\uFFFD"},
        {u"a" + lone_low, u"a\uFFFD"},
        {lone_high + u"\uE000", u"\uFFFD\uE000"},
        {lone_high + lone_high, u"\uFFFD\uFFFD"},
        // The edges of the surrogate ranges.
        {u"a" + std::u16string(1, char16_t{0xDFFF}), u"a\uFFFD"},
        {u"\uD7FF" + lone_low + lone_low, u"\uD7FF\uFFFD\uFFFD"},
        {lone_high + std::u16string(1, char16_t{0xDBFF}), u"\uFFFD\uFFFD"},
    };
    for (const auto& [text, display] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(to_display_text(text), display);
        EXPECT_EQ(is_valid_utf16(text), text == display);
    }
}

// The standard-error line's encoder, at the boundaries of each sequence length.
TEST(Text, Utf8KeepsValidTextAndReplacesUnpairedSurrogates) {
    const std::pair<std::u16string, std::string_view> cases[] = {
        {u"a\u00E9\u5B89\U0001F600", "a\xC3\xA9\xE5\xAE\x89\xF0\x9F\x98\x80"},
        {u"x" + lone_high, "x\xEF\xBF\xBD"},
        {u"\u007F", "\x7F"},
        {u"\u0080", "\xC2\x80"},
        {u"\u07FF", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U00010000", "\xF0\x90\x80\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_EQ(to_utf8(text), std::vector<char>(bytes.begin(), bytes.end())) << testing::PrintToString(text);
    }
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
