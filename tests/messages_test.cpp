#include "core/messages.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "core/unicode_tables.h"

namespace vellomar {
namespace {

const std::u16string lone_high(1, char16_t{0xD800});

TEST(Messages, OptionErrorsHaveTheirFixedTexts) {
    EXPECT_EQ(option_error_message(OptionError::missing_pid), u"更新助手参数无效（缺少进程号）");
    EXPECT_EQ(option_error_message(OptionError::invalid_pid), u"更新助手参数无效（进程号）");
    EXPECT_EQ(option_error_message(OptionError::missing_installer), u"更新助手参数无效（缺少安装包）");
}

TEST(Messages, InsertedTextFollowsAsciiColonAndSpaceWithReplacementCharacters) {
    EXPECT_EQ(installer_missing_message(uR"(C:\t\s.exe)"), uR"(安装包不存在: C:\t\s.exe)");
    EXPECT_EQ(launch_missing_message(u"C:\\a" + lone_high + u".exe"), u"未找到程序: C:\\a\uFFFD.exe");
    EXPECT_EQ(relaunch_failed_message(u"Access is denied. (os error 5)"), u"无法启动新版本: Access is denied. (os error 5)");
    EXPECT_EQ(installer_start_failed_message(u"x"), u"启动安装程序失败: x");
    EXPECT_EQ(installer_missing_message(u""), u"安装包不存在: ");
}

TEST(Messages, InstallerExitCodeIsSignedDecimalAfterOneSpace) {
    EXPECT_EQ(installer_exit_code_message(2), u"安装程序退出码 2");
    EXPECT_EQ(installer_exit_code_message(static_cast<std::int32_t>(0xC0000005u)), u"安装程序退出码 -1073741819");
    EXPECT_EQ(installer_exit_code_message(INT32_MIN), u"安装程序退出码 -2147483648");
}

TEST(DebugRender, EscapesLikeADebugStringLiteral) {
    const std::vector<std::pair<std::optional<std::u16string>, std::u16string>> cases = {
        {std::nullopt, u"None"},
        {u"", uR"(Some(""))"},
        {u"安装程序退出码 2", uR"(Some("安装程序退出码 2"))"},
        {uR"(C:\a "b" 'c')", uR"(Some("C:\\a \"b\" 'c'"))"},
        {std::u16string(u"\0\t\n\r", 4), uR"(Some("\0\t\n\r"))"},
        // Controls, format characters, separators other than the space, private use, unassigned.
        {u"\x01\x7F\u0085\u00AD\u200B\u2028\u3000\u00A0\uE000\U000F0000\U0001FFFF",
         uR"(Some("\u{1}\u{7f}\u{85}\u{ad}\u{200b}\u{2028}\u{3000}\u{a0}\u{e000}\u{f0000}\u{1ffff}"))"},
        // Combining marks are escaped wherever they stand; other non-BMP characters stay.
        {u"e\u0301\u200D\U0001F600\U00020000", uR"(Some("e\u{301}\u{200d}😀𠀀"))"},
        {u"a" + lone_high + u"b", uR"(Some("a\u{d800}b"))"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(expected));
        EXPECT_EQ(debug_render(text), expected);
    }
}

TEST(DebugRender, UnicodeTablesSplitAtCategoryBoundaries) {
    EXPECT_TRUE(is_printable(0x20));
    EXPECT_FALSE(is_printable(0x1F));
    EXPECT_TRUE(is_printable(0x7E));
    EXPECT_TRUE(is_printable(0x4E00));  // first code point of a First>/Last> range
    EXPECT_TRUE(is_printable(0x9FFF));  // last code point of it
    EXPECT_TRUE(is_printable(0xAC00 + 5000));
    EXPECT_FALSE(is_printable(0xD800));
    EXPECT_FALSE(is_printable(0xFFFF));
    EXPECT_FALSE(is_printable(0x10FFFD));  // private use
    EXPECT_FALSE(is_printable(0x110000));
    EXPECT_TRUE(is_grapheme_extend(0x0300));
    EXPECT_TRUE(is_grapheme_extend(0x036F));
    EXPECT_FALSE(is_grapheme_extend(0x0370));
    EXPECT_TRUE(is_grapheme_extend(0xE0100));  // variation selector supplement
    EXPECT_FALSE(is_grapheme_extend(0));
}

TEST(SilentInstallFailureLine, IsTheRenderingAndALineFeed) {
    EXPECT_EQ(silent_install_failure_line(installer_exit_code_message(2)),
              u"silent install failed: Some(\"安装程序退出码 2\")\n");
    EXPECT_EQ(silent_install_failure_line(std::nullopt), u"silent install failed: None\n");
}

}  // namespace
}  // namespace vellomar
