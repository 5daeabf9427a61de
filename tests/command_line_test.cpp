#include "core/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellomar {
namespace {

using Arguments = std::vector<std::u16string>;

struct SplitCase {
    std::u16string command_line;
    Arguments expected;
};

TEST(SplitCommandLine, EmptyCommandLineGivesOnlyTheModulePath) {
    EXPECT_EQ(split_command_line(u"", u"C:\\App\\helper.exe"), Arguments{u"C:\\App\\helper.exe"});
    EXPECT_EQ(split_command_line(u"", u""), Arguments{u""});
}

TEST(SplitCommandLine, SplitsAsTheRuntimeDoes) {
    const std::u16string lone_high(1, char16_t{0xD800});
    const std::u16string lone_low(1, char16_t{0xDC00});
    const SplitCase cases[] = {
        // Argument 0 only toggles quotes and keeps backslashes.
        {uR"("C:\Program Files\App\app.exe" --pid 1)", {uR"(C:\Program Files\App\app.exe)", u"--pid", u"1"}},
        {uR"("argdump.exe"x y)", {u"argdump.exex", u"y"}},
        {uR"(C:\a\"b c\argdump.exe" z)", {uR"(C:\a\b c\argdump.exe)", u"z"}},
        {uR"(C:\dir\ x)", {uR"(C:\dir\)", u"x"}},
        {uR"("" a)", {u"", u"a"}},
        {uR"("a b c)", {u"a b c"}},
        {u"prog\tx", {u"prog", u"x"}},
        {u"prog", {u"prog"}},
        // A leading blank gives an empty argument 0.
        {u" leading.exe a", {u"", u"leading.exe", u"a"}},
        {u" ", {u""}},
        {u"\t\tx", {u"", u"x"}},
        // Quotes and backslash runs follow the runtime's rules.
        {uR"(p "a b c" d e)", {u"p", u"a b c", u"d", u"e"}},
        {uR"(p "ab\"c" "\\" d)", {u"p", uR"(ab"c)", uR"(\)", u"d"}},
        {uR"(p a\\\b d"e f"g h)", {u"p", uR"(a\\\b)", u"de fg", u"h"}},
        {uR"(p a\\\"b c d)", {u"p", uR"(a\"b)", u"c", u"d"}},
        {uR"(p a\\\\"b c" d e)", {u"p", uR"(a\\b c)", u"d", u"e"}},
        {uR"(p a\ "a\\" b "a\" b)", {u"p", uR"(a\)", uR"(a\)", u"b", uR"(a" b)"}},
        {uR"(p \\server\share\\)", {u"p", uR"(\\server\share\\)"}},
        {uR"(p "a"b c)", {u"p", u"ab", u"c"}},
        {uR"(p a""b)", {u"p", u"ab"}},
        // A doubled quote inside quotes is literal and quoting stays on.
        {uR"(p a"b"" c d)", {u"p", uR"(ab" c d)"}},
        {uR"(p "a""b")", {u"p", uR"(a"b)"}},
        {uR"(p """")", {u"p", uR"(")"}},
        {uR"(p """a b""")", {u"p", uR"("a b")"}},
        {uR"(p "a"""b c)", {u"p", uR"(a"b)", u"c"}},
        {uR"(p "a"")", {u"p", uR"(a")"}},
        // Two backslashes leave an ordinary quote, which pairs with the next one.
        {uR"(p "a\\"" b")", {u"p", uR"(a\" b)"}},
        // Empty quoted arguments are kept.
        {uR"(p "" "" x)", {u"p", u"", u"", u"x"}},
        {uR"(p a "" b)", {u"p", u"a", u"", u"b"}},
        {uR"(p x "")", {u"p", u"x", u""}},
        {uR"(p "")", {u"p", u""}},
        // A lone trailing quote gives one empty argument.
        {uR"(p a ")", {u"p", u"a", u""}},
        {uR"(p "lone)", {u"p", u"lone"}},
        {uR"(p "open  )", {u"p", u"open  "}},
        // Trailing blanks add nothing.
        {u"p  a \t b  ", {u"p", u"a", u"b"}},
        {u"p \t ", {u"p"}},
        // Only space and tab separate.
        {u"p a\nb c\u00A0d e\u3000f g\rh", {u"p", u"a\nb", u"c\u00A0d", u"e\u3000f", u"g\rh"}},
        {u"p\u3000x", {u"p\u3000x"}},
        // Unpaired surrogates and CJK survive unchanged.
        {u"p a" + lone_high + u"b \"" + lone_low + u"\"", {u"p", u"a" + lone_high + u"b", lone_low}},
        {u"程序.exe --installer \"C:\\下载 目录\\安装.exe\"", {u"程序.exe", u"--installer", u"C:\\下载 目录\\安装.exe"}},
        {u"p \U0001F600", {u"p", u"\U0001F600"}},
    };
    for (const SplitCase& row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.command_line));
        EXPECT_EQ(split_command_line(row.command_line, u"C:\\module.exe"), row.expected);
    }
}

}  // namespace
}  // namespace vellomar
