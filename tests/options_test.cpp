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

TEST(BuildOptions, PidAndInstallerAloneGiveNoLaunchNoDirectoryAndEmptyVersion) {
    const UpdateOptions options = options_of(uR"(h --pid 1234 --installer C:\t\setup.exe)");
    EXPECT_EQ(options.pid, 1234u);
    EXPECT_EQ(options.installer, uR"(C:\t\setup.exe)");
    EXPECT_EQ(options.launch, std::nullopt);
    EXPECT_EQ(options.install_dir, std::nullopt);
    EXPECT_EQ(options.version, u"");
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

TEST(BuildOptions, OptionsComeInAnyOrderAndFirstOccurrenceWins) {
    const UpdateOptions options =
        options_of(u"h stray --version 2.0 --installer a.exe --pid +42 --installer b.exe --pid 7 extra");
    EXPECT_EQ(options.pid, 42u);
    EXPECT_EQ(options.installer, u"a.exe");
    EXPECT_EQ(options.version, u"2.0");
}

TEST(BuildOptions, VerbatimLaunchGivesItsParentAsInstallDirectory) {
    const UpdateOptions options = options_of(uR"(h --pid 1 --installer \\?\C:\t\s.exe --launch "\\?\C:\App\app.exe")");
    EXPECT_EQ(options.installer, uR"(C:\t\s.exe)");
    EXPECT_EQ(options.launch, uR"(C:\App\app.exe)");
    EXPECT_EQ(options.install_dir, uR"(C:\App)");
}

TEST(BuildOptions, InstallDirOptionWinsOverLaunchEvenWhenEmpty) {
    EXPECT_EQ(options_of(uR"(h --pid 1 --installer s --launch C:\App\a.exe --install-dir "")").install_dir, u"");
    EXPECT_EQ(options_of(uR"(h --pid 1 --installer s --install-dir \\?\D:\Apps --launch C:\App\a.exe)").install_dir,
              uR"(D:\Apps)");
}

TEST(BuildOptions, LaunchWithoutParentLeavesInstallDirectoryAbsentOrEmpty) {
    EXPECT_EQ(options_of(u"h --pid 1 --installer s --launch app.exe").install_dir, u"");
    EXPECT_EQ(options_of(uR"(h --pid 1 --installer s --launch C:\)").install_dir, std::nullopt);
    EXPECT_EQ(options_of(u"h --pid 1 --installer s --launch \"\"").install_dir, std::nullopt);
}

TEST(BuildOptions, PathsKeepUnpairedSurrogatesButVersionMustBeValidText) {
    const UpdateOptions options =
        options_of(u"h --pid 1 --installer s" + lone_high + u" --launch C:\\" + lone_high + u"\\a.exe --version 1" + lone_high);
    EXPECT_EQ(options.installer, u"s" + lone_high);
    EXPECT_EQ(options.install_dir, u"C:\\" + lone_high);
    EXPECT_EQ(options.version, u"");
    EXPECT_EQ(options_of(u"h --pid 1 --installer s --version \" 3.1 \"").version, u" 3.1 ");
}

}  // namespace
}  // namespace vellomar
