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

TEST(Text, Utf8KeepsValidTextAndReplacesUnpairedSurrogates) {
    const auto bytes = [](std::string_view text) { return std::vector<char>(text.begin(), text.end()); };
    EXPECT_EQ(to_utf8(u"a\u00E9\u5B89\U0001F600"), bytes("a\xC3\xA9\xE5\xAE\x89\xF0\x9F\x98\x80"));
    EXPECT_EQ(to_utf8(u"x" + lone_high), bytes("x\xEF\xBF\xBD"));
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
