#include "core/quoting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "argument_lists.h"
#include "core/command_line.h"

namespace vellomar {
namespace {

struct TextCase {
    std::u16string input;
    std::u16string expected;
};

std::u16string appended(const ArgumentEntry& argument) {
    std::u16string command_line;
    const std::optional<QuotingError> error = append_argument(command_line, argument);
    EXPECT_FALSE(error.has_value()) << testing::PrintToString(argument.text);
    return command_line;
}

std::u16string command_line_of(const std::variant<std::u16string, QuotingError>& built) {
    if (const QuotingError* error = std::get_if<QuotingError>(&built)) {
        ADD_FAILURE() << "unexpected error: " << testing::PrintToString(error->message);
        return {};
    }
    return std::get<std::u16string>(built);
}

std::u16string_view error_message(const std::variant<std::u16string, QuotingError>& built) {
    const QuotingError* error = std::get_if<QuotingError>(&built);
    EXPECT_NE(error, nullptr);
    return error != nullptr ? error->message : u"";
}

using support::ordinary;
ArgumentEntry verbatim(std::u16string text) { return {std::move(text), true}; }

TEST(AppendArgument, QuotesOnlyForSpaceTabOrEmptyAndEscapesQuotesAndFinalBackslashes) {
    const TextCase cases[] = {
        {u"a b", u"\"a b\""},
        {u"", u"\"\""},
        {u"a\"b", u"a\\\"b"},
        {u"a\\\"b", u"a\\\\\\\"b"},
        {u"a\\\\\"b", u"a\\\\\\\\\\\"b"},
        {u"a\\b", u"a\\b"},
        {u"C:\\dir\\", u"C:\\dir\\"},
        {u"x y\\", u"\"x y\\\\\""},
        {u"x y\\\\", u"\"x y\\\\\\\\\""},
        {u"a\\\\b c", u"\"a\\\\b c\""},
        {u"a\tb", u"\"a\tb\""},
        {u"\"", u"\\\""},
        {u"\"a b\"", u"\"\\\"a b\\\"\""},
        {u"a\nb\rc", u"a\nb\rc"},
        {u"&|<>^%!", u"&|<>^%!"},
        {u"\u65e5\u672c \xD800", u"\"\u65e5\u672c \xD800\""},
        {u"C:\\\U0001F600 \u4e0b\u8f7d\\", u"\"C:\\\U0001F600 \u4e0b\u8f7d\\\\\""},
        {u"2.0 \"rc\"\t\\\\\"x\\", u"\"2.0 \\\"rc\\\"\t\\\\\\\\\\\"x\\\\\""},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(appended(ordinary(c.input)), c.expected) << testing::PrintToString(c.input);
        EXPECT_EQ(split_command_line(u"p " + c.expected, u"p"), (std::vector<std::u16string>{u"p", c.input}))
            << testing::PrintToString(c.expected);
    }
}

TEST(AppendArgument, VerbatimEntryIsCopiedUnquoted) {
    EXPECT_EQ(appended(verbatim(u"/D=C:\\Program Files\\App")), u"/D=C:\\Program Files\\App");
    EXPECT_EQ(appended(verbatim(u"a\"b\\ \t")), u"a\"b\\ \t");
    EXPECT_EQ(appended(verbatim(u"")), u"");
}

TEST(AppendArgument, NulIsRefusedInOrdinaryAndVerbatimEntries) {
    for (const bool is_verbatim : {false, true}) {
        std::u16string command_line = u"unchanged";
        const std::optional<QuotingError> error =
            append_argument(command_line, {std::u16string(u"a\0b", 3), is_verbatim});
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->message, u"nul byte found in provided data");
    }
}

TEST(BuildCommandLine, InstallerRunEndsWithTheUnquotedDirectory) {
    const auto built = build_command_line(
        u"C:\\Temp\\setup.exe", {ordinary(u"/S"), ordinary(u"/UPDATE"), verbatim(u"/D=C:\\Program Files\\App")});
    EXPECT_EQ(command_line_of(built), u"\"C:\\Temp\\setup.exe\" /S /UPDATE /D=C:\\Program Files\\App");
}

TEST(BuildCommandLine, NoArgumentsGivesTheQuotedProgramAlone) {
    EXPECT_EQ(command_line_of(build_command_line(u"C:\\Program Files\\App\\app.exe", {})),
              u"\"C:\\Program Files\\App\\app.exe\"");
}

TEST(BuildCommandLine, ProgramTextIsNeverEscaped) {
    EXPECT_EQ(command_line_of(build_command_line(u"notepad", {ordinary(u"")})), u"\"notepad\" \"\"");
    EXPECT_EQ(command_line_of(build_command_line(u"C:\\a\\", {})), u"\"C:\\a\\\"");
}

TEST(BuildCommandLine, NulInAnyArgumentFailsTheWholeLine) {
    const auto built = build_command_line(u"p", {ordinary(u"ok"), verbatim(std::u16string(u"\0", 1))});
    EXPECT_EQ(error_message(built), u"nul byte found in provided data");
}

TEST(BuildScriptCommandLine, RunsTheScriptThroughCmdWithEscapedArguments) {
    const auto built = build_script_command_line(
        u"C:\\Tools\\run.bat", {ordinary(u"/S"), ordinary(u"a b"), ordinary(u"50%"), ordinary(u"x\"y")});
    EXPECT_EQ(command_line_of(built),
              u"cmd.exe /e:ON /v:OFF /d /c \"\"C:\\Tools\\run.bat\" /S \"a b\" \"50%%cd:~,%\" \"x\"\"y\"\"");
}

TEST(BuildScriptCommandLine, NoArgumentsStillClosesBothQuotes) {
    EXPECT_EQ(command_line_of(build_script_command_line(u"C:\\x y\\r.cmd", {})),
              u"cmd.exe /e:ON /v:OFF /d /c \"\"C:\\x y\\r.cmd\"\"");
}

TEST(BuildScriptCommandLine, ArgumentQuotingFollowsTheSafeCharacterSet) {
    const TextCase cases[] = {
        {u"plain", u"plain"},
        {u"/UPDATE", u"/UPDATE"},
        {u"azAZ09", u"azAZ09"},
        {u"`[{", u"\"`[{\""},
        {u"C:\\dir\\file.txt", u"C:\\dir\\file.txt"},
        {u"#$*+-./:?@\\_x", u"#$*+-./:?@\\_x"},
        {u"", u"\"\""},
        {u"a\\", u"\"a\\\\\""},
        {u"ab\\\\", u"\"ab\\\\\\\\\""},
        {u"a&b", u"\"a&b\""},
        {u"^", u"\"^\""},
        {u"!", u"\"!\""},
        {u"a,b", u"\"a,b\""},
        {u"a\tb", u"\"a\tb\""},
        {u"a\x7F", u"\"a\x7F\""},
        {u"a\x01", u"\"a\x01\""},
        {u"a\u0085", u"\"a\u0085\""},
        {u"a\u009F", u"\"a\u009F\""},
        {u"a\u00A0", u"a\u00A0"},
        {u"\u65e5\u672c", u"\u65e5\u672c"},
        {u"a\xDC00", u"a\xDC00"},
        {u"a\\\"b", u"\"a\\\\\"\"b\""},
        {u"%PATH%", u"\"%%cd:~,%PATH%%cd:~,%\""},
        {u"a\\%", u"\"a\\%%cd:~,%\""},
    };
    for (const TextCase& c : cases) {
        const auto built = build_script_command_line(u"s.bat", {ordinary(c.input)});
        EXPECT_EQ(command_line_of(built), u"cmd.exe /e:ON /v:OFF /d /c \"\"s.bat\" " + c.expected + u"\"")
            << testing::PrintToString(c.input);
    }
}

TEST(BuildScriptCommandLine, LineBreaksAreRefusedBeforeNul) {
    EXPECT_EQ(error_message(build_script_command_line(u"s.bat", {ordinary(u"a\nb")})),
              u"batch file arguments are invalid");
    EXPECT_EQ(error_message(build_script_command_line(u"s.bat", {ordinary(u"a\rb")})),
              u"batch file arguments are invalid");
    EXPECT_EQ(error_message(build_script_command_line(u"s.bat", {ordinary(std::u16string(u"\0\n", 2))})),
              u"batch file arguments are invalid");
    EXPECT_EQ(error_message(build_script_command_line(u"s.bat", {ordinary(std::u16string(u"a\0", 2))})),
              u"nul byte found in provided data");
}

TEST(BuildScriptCommandLine, VerbatimEntriesWithCharactersCmdActsOnAreRefused) {
    EXPECT_EQ(command_line_of(build_script_command_line(u"s.bat", {verbatim(u"/D=C:\\Program Files\\A!(x)")})),
              u"cmd.exe /e:ON /v:OFF /d /c \"\"s.bat\" /D=C:\\Program Files\\A!(x)\"");
    for (const char16_t* bad : {u"/D=C:\\R&D", u"a|b", u"a<b", u"a>b", u"a^b", u"50%", u"a\"b", u"a\rb", u"a\nb"}) {
        EXPECT_EQ(error_message(build_script_command_line(u"s.bat", {verbatim(bad)})), u"batch file arguments are invalid")
            << testing::PrintToString(bad);
    }
    EXPECT_EQ(error_message(build_script_command_line(u"s.bat", {verbatim(std::u16string(u"&\0", 2))})),
              u"nul byte found in provided data");
    EXPECT_EQ(error_message(build_script_command_line(u"C:\\50%\\s.bat", {})), u"batch file arguments are invalid");
}

TEST(BuildScriptCommandLine, ScriptPathWithQuoteOrFinalBackslashIsRefused) {
    EXPECT_EQ(error_message(build_script_command_line(u"C:\\a\"b.bat", {})),
              u"Windows file names may not contain `\"` or end with `\\`");
    EXPECT_EQ(error_message(build_script_command_line(u"C:\\a.bat\\", {})),
              u"Windows file names may not contain `\"` or end with `\\`");
}

TEST(HasBatchExtension, LastFourCharactersInAnyCase) {
    const std::pair<std::u16string_view, bool> cases[] = {
        {u"RUN.CMD", true},   {u"run.Bat", true},  {u"C:\\x\\.bat", true}, {u"run.bat.exe", false},
        {u"runbat", false},   {u"bat", false},     {u"run.bas", false},    {u"run.cmd ", false},
        {u"run.bat\\", false}, {u"", false},            {u"SETUP.BAT", true}, {u".bat", true},
        {u"runcmd", false},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(has_batch_extension(path), expected) << testing::PrintToString(path);
    }
}

TEST(BuildCommandLine, GeneratedArgumentListsSplitBackIdentically) {
    std::mt19937 random(20240611);
    const std::u16string program = u"C:\\Program Files\\App\\app.exe";
    constexpr int lists = 12000;
    for (int i = 0; i < lists; ++i) {
        const std::vector<ArgumentEntry> arguments = support::random_arguments(random);
        std::vector<std::u16string> expected = {program};
        for (const ArgumentEntry& argument : arguments) {
            expected.push_back(argument.text);
        }
        const std::u16string command_line = command_line_of(build_command_line(program, arguments));
        ASSERT_EQ(split_command_line(command_line, u"unused"), expected) << testing::PrintToString(command_line);
    }
    std::printf("round-tripped %d generated argument lists\n", lists);
}

}  // namespace
}  // namespace vellomar
