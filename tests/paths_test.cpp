#include "core/paths.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vellomar {
namespace {

struct TextCase {
    std::u16string input;
    std::u16string expected;
};

const std::u16string lone_high(1, char16_t{0xD800});

std::u16string repeated(char16_t unit, std::size_t count) {
    return std::u16string(count, unit);
}

struct LongFormCase {
    std::u16string path;
    bool for_file_system;
    bool for_program;
};

TEST(Paths, LongPathsNeedTheLongFormAndProgramsOnlyBelowMaxPath) {
    const std::u16string drive_246 = u"C:\\" + repeated(u'a', 243);
    const std::u16string drive_247 = u"C:\\" + repeated(u'a', 244);
    const std::vector<LongFormCase> cases = {
        {u"C:\\", false, false},
        {u"c:\\Temp\\setup.exe", false, false},
        {u"z:/temp/setup.exe", false, false},
        {u"\\\\server\\share\\setup.exe", false, false},
        {u"\\\\?\\C:\\setup.exe", false, false},
        {drive_246, false, false},
        {drive_247, true, true},
        {u"C:\\" + repeated(u'a', 256), true, true},
        {u"C:\\" + repeated(u'a', 257), true, false},
        {u"\\\\server\\share\\" + repeated(u'a', 232), true, true},
        {u"\\\\.\\C:\\" + repeated(u'a', 240), true, true},
        {u"\\\\?\\C:\\" + repeated(u'a', 300), false, false},
        {u"\\??\\C:\\" + repeated(u'a', 300), false, false},
    };
    ASSERT_EQ(drive_246.size(), 246u);
    ASSERT_EQ(drive_247.size(), 247u);
    for (const LongFormCase& c : cases) {
        EXPECT_EQ(needs_long_form(c.path, PathUse::file_system), c.for_file_system)
            << "length " << c.path.size() << ": " << testing::PrintToString(c.path);
        EXPECT_EQ(needs_long_form(c.path, PathUse::program), c.for_program)
            << "length " << c.path.size() << ": " << testing::PrintToString(c.path);
    }
}

struct PrefixCase {
    std::u16string absolute;
    std::u16string verbatim;
};

TEST(Paths, VerbatimPrefixFollowsTheFormOfTheAbsolutePath) {
    const std::u16string long_name = repeated(u'a', 300);
    const std::vector<PrefixCase> cases = {
        {u"C:\\Temp\\setup.exe", u"\\\\?\\C:\\Temp\\setup.exe"},
        {u"C:\\", u"\\\\?\\C:\\"},
        {u"C:\\" + long_name, u"\\\\?\\C:\\" + long_name},
        {u"\\\\server\\share\\setup.exe", u"\\\\?\\UNC\\server\\share\\setup.exe"},
        {u"\\\\server\\share", u"\\\\?\\UNC\\server\\share"},
        {u"\\\\.\\C:\\Temp\\setup.exe", u"\\\\?\\C:\\Temp\\setup.exe"},
        {u"\\\\.\\pipe\\name", u"\\\\?\\pipe\\name"},
        {u"\\\\?\\C:\\Temp\\setup.exe", u"\\\\?\\C:\\Temp\\setup.exe"},
        {u"\\\\?\\UNC\\server\\share", u"\\\\?\\UNC\\server\\share"},
        {u"\\??\\C:\\Temp\\setup.exe", u"\\??\\C:\\Temp\\setup.exe"},
        {u"x", u"x"},
        // Not drive-absolute, or too short to be: left as they are.
        {u"C:", u"C:"},
        {u"C:x", u"C:x"},
        {uR"(\x)", uR"(\x)"},
        {uR"(\)", uR"(\)"},
        {uR"(\\.x\share)", uR"(\\?\UNC\.x\share)"},
    };
    for (const PrefixCase& c : cases) {
        EXPECT_EQ(with_verbatim_prefix(c.absolute), c.verbatim) << testing::PrintToString(c.absolute);
    }
}

TEST(Paths, FullyQualifiedPathsDoNotDependOnTheCurrentDirectory) {
    const std::pair<std::u16string, bool> cases[] = {
        {uR"(C:\x)", true},   {u"C:/x", true},   {uR"(\\srv\share\x)", true}, {uR"(\\?\C:\x)", true},
        {uR"(\??\C:\x)", true}, {uR"(//srv/x)", true}, {u"x", false},          {uR"(.\x)", false},
        {uR"(..\x)", false},  {uR"(\x)", false},  {u"C:x", false},          {u"C:", false},
        {u"", false},         {uR"(C:\)", true}, {uR"(\\)", true},           {uR"(\:\x)", false},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(is_fully_qualified(path), expected) << testing::PrintToString(path);
    }
}

TEST(Paths, StripVerbatimPrefixGivesTheOrdinaryPath) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {uR"(\\?\C:\App\app.exe)", uR"(C:\App\app.exe)"},
        {uR"(\\?\UNC\server\share\x)", uR"(\\server\share\x)"},
        {uR"(\\?\unc\server\share)", uR"(\\server\share)"},
        {uR"(\\?\UNC\)", uR"(\\)"},
        {uR"(\\?\UNCx\y)", uR"(UNCx\y)"},
        {u"\\\\?\\C:\\a" + lone_high, u"C:\\a" + lone_high},
        {u"C:\\a" + lone_high, u"C:\\a" + lone_high},
        {uR"(\\?\)", u""},
        {uR"(\\?)", uR"(\\?)"},
        {uR"(\\.\C:\x)", uR"(\\.\C:\x)"},
        {uR"(//?/C:/x)", uR"(//?/C:/x)"},
        {uR"(C:\\?\x)", uR"(C:\\?\x)"},
        {u"", u""},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(path));
        EXPECT_EQ(strip_verbatim_prefix(path), expected);
    }
}

TEST(Paths, InstallDirArgumentLosesEveryTrailingSeparator) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {uR"(C:\Program Files\App)", uR"(C:\Program Files\App)"},
        {uR"(C:\App\/\)", uR"(C:\App)"},
        {uR"(C:\)", u"C:"},
        {uR"(\)", u""},
        {uR"(/\/)", u""},
        {u"", u""},
        {uR"(\\server\share\)", uR"(\\server\share)"},
        {u"App \\", u"App "},
        {u"d" + lone_high + u"\\", u"d" + lone_high},
    };
    for (const auto& [directory, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(directory));
        EXPECT_EQ(install_dir_argument(directory), expected);
    }
}

// Views cut from a longer text, so that a read past the end finds a plausible next unit there.
TEST(Paths, ShortInputsAreNotReadPastTheirEnd) {
    const std::u16string_view drive = std::u16string_view(uR"(C:\x)").substr(0, 2);
    const std::u16string_view root = std::u16string_view(uR"(\\srv)").substr(0, 1);
    const std::u16string_view unc = std::u16string_view(uR"(\\?\UNC\srv)").substr(0, 7);
    EXPECT_FALSE(is_fully_qualified(drive));
    EXPECT_FALSE(is_fully_qualified(root));
    EXPECT_EQ(with_verbatim_prefix(drive), u"C:");
    EXPECT_EQ(with_verbatim_prefix(root), uR"(\)");
    EXPECT_EQ(strip_verbatim_prefix(unc), u"UNC");
    EXPECT_EQ(parent_path(drive), std::nullopt);
    EXPECT_EQ(parent_path(root), std::nullopt);
}

TEST(Paths, JoinPutsOneSeparatorBetweenDirectoryAndName) {
    const TextCase cases[] = {
        {uR"(C:\App)", uR"(C:\App\x.exe)"},
        {u"C:/App/", u"C:/App/x.exe"},
        {u"", u"x.exe"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(join_path(c.input, u"x.exe"), c.expected) << testing::PrintToString(c.input);
    }
}

TEST(Paths, ParentRemovesTheLastComponentAndTheSeparatorsBeforeIt) {
    const std::vector<std::pair<std::u16string, std::optional<std::u16string>>> cases = {
        {uR"(C:\App\app.exe)", uR"(C:\App)"},
        {uR"(C:\app.exe)", uR"(C:\)"},
        {uR"(C:\App\)", uR"(C:\)"},
        {uR"(C:/App/sub//app.exe)", uR"(C:/App/sub)"},
        {uR"(C:\App\\\app.exe)", uR"(C:\App)"},
        {uR"(C:\\\app.exe)", uR"(C:\)"},
        {uR"(C:app.exe)", uR"(C:)"},
        {u"app.exe", u""},
        {uR"(dir\app.exe)", u"dir"},
        {uR"(a\\b\\\c)", uR"(a\\b)"},
        {uR"(\app.exe)", uR"(\)"},
        {uR"(/a/b)", uR"(/a)"},
        {uR"(\\server\share\app.exe)", uR"(\\server\share\)"},
        {uR"(\\server\share\dir\app.exe)", uR"(\\server\share\dir)"},
        {uR"(//server/share/x)", uR"(//server/share/)"},
        {uR"(UNC\server\share)", uR"(UNC\server)"},
        {uR"(\\\x)", uR"(\)"},
        // `.` components are skipped, except one opening a path without a root.
        {uR"(C:\App\.\app.exe)", uR"(C:\App)"},
        {uR"(C:\App\app.exe\.)", uR"(C:\App)"},
        {uR"(C:\App\.)", uR"(C:\)"},
        {uR"(.\app.exe)", u"."},
        {u".", u""},
        {uR"(.\.)", u""},
        {uR"(x\.)", u""},
        {uR"(C:.\x)", u"C:."},
        // `..` is removed like a name.
        {uR"(C:\a\..)", uR"(C:\a)"},
        {uR"(..\x)", u".."},
        {u"..", u""},
        {uR"(安装\程序.exe)", u"安装"},
        {u"d" + lone_high + u"\\x", u"d" + lone_high},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(path));
        EXPECT_EQ(parent_path(path), expected);
    }
}

TEST(Paths, ParentDriveRootOrShareAloneHasNoParent) {
    for (const std::u16string path : {u"", u"C:", uR"(C:\)", uR"(C:\\)", uR"(C:\.)", uR"(\)", u"/", uR"(\\)",
                                      uR"(\\server)", uR"(\\s)", uR"(\\server\)", uR"(\\server\share)",
                                      uR"(\\server\share\)", uR"(\.\)"}) {
        SCOPED_TRACE(testing::PrintToString(path));
        EXPECT_EQ(parent_path(path), std::nullopt);
    }
}

}  // namespace
}  // namespace vellomar
