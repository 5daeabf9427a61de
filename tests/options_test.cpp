#include "core/options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/command_line.h"

namespace vellomar {
namespace {

using Arguments = std::vector<std::u16string>;

const std::u16string lone_high(1, char16_t{0xD800});

UpdateOptions options_of(std::u16string_view command_line) {
    const auto result = build_options(split_command_line(command_line, u"helper.exe"));
    EXPECT_TRUE(std::holds_alternative<UpdateOptions>(result)) << testing::PrintToString(std::u16string(command_line));
    return std::holds_alternative<UpdateOptions>(result) ? std::get<UpdateOptions>(result) : UpdateOptions{};
}

std::optional<OptionError> error_of(std::u16string_view command_line) {
    const auto result = build_options(split_command_line(command_line, u"helper.exe"));
    if (const OptionError* error = std::get_if<OptionError>(&result)) {
        return *error;
    }
    return std::nullopt;
}

TEST(FindOptionValue, TakesTheArgumentAfterTheFirstExactMatch) {
    struct Case {
        Arguments arguments;
        std::optional<std::u16string> expected;
    };
    const std::vector<Case> cases = {
        {{u"h", u"--pid", u"1", u"--pid", u"2"}, u"1"},
        {{u"h", u"--pid", u"--installer"}, u"--installer"},
        {{u"h", u"--pid", u""}, u""},
        {{u"h", u"--installer", u"x", u"--pid"}, std::nullopt},
        {{u"h", u"--PID", u"5"}, std::nullopt},
        {{u"h", u"--pid=5"}, std::nullopt},
        {{u"h", u"--pi", u"5"}, std::nullopt},
        {{u"--pid", u"7"}, u"7"},
        {{u"--pid"}, std::nullopt},
        {{}, std::nullopt},
        {{u"h", u"x", u"--pid", lone_high}, lone_high},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.arguments));
        EXPECT_EQ(find_option_value(row.arguments, u"--pid"), row.expected);
    }
}

TEST(ParsePid, AcceptsOnlyAnOptionalPlusAndDecimalDigitsUpTo32Bits) {
    const std::vector<std::pair<std::u16string, std::optional<std::uint32_t>>> cases = {
        {u"1234", 1234u},
        {u"+42", 42u},
        {u"0042", 42u},
        {u"0", 0u},
        {u"4294967295", 4294967295u},
        {u"000000000000004294967295", 4294967295u},
        {u"4294967296", std::nullopt},
        {u"99999999999999999999", std::nullopt},
        {u"-1", std::nullopt},
        {u"+", std::nullopt},
        {u"-", std::nullopt},
        {u"++1", std::nullopt},
        {u"", std::nullopt},
        {u" 1", std::nullopt},
        {u"1 ", std::nullopt},
        {u"0x10", std::nullopt},
        {u"１２", std::nullopt},
        {u"1" + lone_high, std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(parse_pid(text), expected);
    }
}

TEST(BuildOptions, ChecksStopAtTheFirstFailureInOrder) {
    const std::vector<std::pair<std::u16string, OptionError>> cases = {
        {u"h", OptionError::missing_pid},
        {u"h --installer x.exe --pid", OptionError::missing_pid},
        {u"h --PID 5 --installer x.exe", OptionError::missing_pid},
        {u"h --pid -1", OptionError::invalid_pid},
        {u"h --pid 4294967296 --installer x.exe", OptionError::invalid_pid},
        {u"h --pid \"\" --installer x.exe", OptionError::invalid_pid},
        {u"h --pid \" 1\" --installer x.exe", OptionError::invalid_pid},
        {u"h --pid \"1 \" --installer x.exe", OptionError::invalid_pid},
        {u"h --pid --installer x.exe", OptionError::invalid_pid},
        {u"h --pid " + lone_high + u" --installer x.exe", OptionError::invalid_pid},
        {u"h --pid 0", OptionError::missing_installer},
        {u"h --pid 1 --installer", OptionError::missing_installer},
    };
    for (const auto& [command_line, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(command_line));
        EXPECT_EQ(error_of(command_line), expected);
    }
}

TEST(BuildOptions, AcceptedCommandLinesGiveTheirRecord) {
    struct Case {
        std::u16string command_line;
        UpdateOptions expected;  // pid, installer, launch, install_dir, version
    };
    const std::vector<Case> cases = {
        // Pid and installer alone give no launch, no directory and an empty version.
        {uR"(h --pid 1234 --installer C:\t\setup.exe)", {1234, uR"(C:\t\setup.exe)", std::nullopt, std::nullopt, u""}},
        // Options come in any order and the first occurrence wins.
        {u"h stray --version 2.0 --installer a.exe --pid +42 --installer b.exe --pid 7 extra",
         {42, u"a.exe", std::nullopt, std::nullopt, u"2.0"}},
        // A verbatim launch gives its parent as the installation directory.
        {uR"(h --pid 1 --installer \\?\C:\t\s.exe --launch "\\?\C:\App\app.exe")",
         {1, uR"(C:\t\s.exe)", uR"(C:\App\app.exe)", uR"(C:\App)", u""}},
        // The install-dir option wins over the launch, even when empty.
        {uR"(h --pid 1 --installer s --launch C:\App\a.exe --install-dir "")",
         {1, u"s", uR"(C:\App\a.exe)", u"", u""}},
        {uR"(h --pid 1 --installer s --install-dir \\?\D:\Apps --launch C:\App\a.exe)",
         {1, u"s", uR"(C:\App\a.exe)", uR"(D:\Apps)", u""}},
        // A launch without a parent leaves the installation directory empty or absent.
        {u"h --pid 1 --installer s --launch app.exe", {1, u"s", u"app.exe", u"", u""}},
        {uR"(h --pid 1 --installer s --launch C:\)", {1, u"s", uR"(C:\)", std::nullopt, u""}},
        {u"h --pid 1 --installer s --launch \"\"", {1, u"s", u"", std::nullopt, u""}},
        // Paths keep unpaired surrogates, but the version must be valid text; it is not trimmed here.
        {u"h --pid 1 --installer s" + lone_high + u" --launch C:\\" + lone_high + u"\\a.exe --version 1" + lone_high,
         {1, u"s" + lone_high, u"C:\\" + lone_high + u"\\a.exe", u"C:\\" + lone_high, u""}},
        {u"h --pid 1 --installer s --version \" 3.1 \"", {1, u"s", std::nullopt, std::nullopt, u" 3.1 "}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.command_line));
        const UpdateOptions options = options_of(row.command_line);
        EXPECT_EQ(options.pid, row.expected.pid);
        EXPECT_EQ(options.installer, row.expected.installer);
        EXPECT_EQ(options.launch, row.expected.launch);
        EXPECT_EQ(options.install_dir, row.expected.install_dir);
        EXPECT_EQ(options.version, row.expected.version);
    }
}

}  // namespace
}  // namespace vellomar
