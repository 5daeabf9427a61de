#include "core/paths.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/text.h"

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

struct PathCase {
    std::u16string path;
    bool needs_absolute;
};

TEST(Paths, RelativeAndLongPathsAreMadeAbsolute) {
    const std::u16string drive_246 = u"C:\\" + repeated(u'a', 243);
    const std::u16string drive_247 = u"C:\\" + repeated(u'a', 244);
    const std::vector<PathCase> cases = {
        {u"", false},
        {u"C:", false},
        {u"C:\\", false},
        {u"C:/", false},
        {u"c:\\Temp\\setup.exe", false},
        {u"z:/temp/setup.exe", false},
        {u"\\\\server\\share\\setup.exe", false},
        {u"//server/share/setup.exe", false},
        {u"\\/server/share", false},
        {u"\\\\.\\C:\\setup.exe", false},
        {u"\\\\?\\C:\\setup.exe", false},
        {u"\\??\\C:\\setup.exe", false},
        {u"setup.exe", true},
        {u"a", true},
        {u".\\setup.exe", true},
        {u"..\\setup.exe", true},
        {u"\\Temp\\setup.exe", true},
        {u"/Temp/setup.exe", true},
        {u"\\", true},
        {u"C", true},
        {u"C:setup.exe", true},
        {u"C:..\\setup.exe", true},
        {u"1:\\setup.exe", false},
        {drive_246, false},
        {drive_247, true},
        {repeated(u'a', 246), true},
        {repeated(u'a', 247), true},
        {u"\\\\server\\share\\" + repeated(u'a', 232), true},
        {u"\\\\.\\C:\\" + repeated(u'a', 240), true},
        {u"\\\\?\\C:\\" + repeated(u'a', 300), false},
        {u"\\??\\C:\\" + repeated(u'a', 300), false},
    };
    ASSERT_EQ(drive_246.size(), 246u);
    ASSERT_EQ(drive_247.size(), 247u);
    for (const PathCase& c : cases) {
        EXPECT_EQ(needs_absolute_path(c.path), c.needs_absolute)
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
    };
    for (const PrefixCase& c : cases) {
        EXPECT_EQ(with_verbatim_prefix(c.absolute), c.verbatim) << testing::PrintToString(c.absolute);
    }
}

TEST(Paths, ProgramPathShortAbsoluteAndVerbatimPathsStayAndOthersBecomeAbsolute) {
    const std::pair<std::u16string, OsPathRule> cases[] = {
        {u"", OsPathRule::keep},
        {u"C:", OsPathRule::keep},
        {u"C:\\x\\a.exe", OsPathRule::keep},
        {u"C:/x", OsPathRule::keep},
        {u"\\\\server\\share\\a.exe", OsPathRule::keep},
        {u"/\\server", OsPathRule::keep},
        {u"\\??\\C:\\a.exe", OsPathRule::keep},
        {u"\\\\?\\GLOBALROOT\\x", OsPathRule::keep},
        {u"\\\\?\\C:", OsPathRule::keep},
        {u"a.exe", OsPathRule::make_absolute},
        {u"sub\\a.exe", OsPathRule::make_absolute},
        {u"C:a.exe", OsPathRule::make_absolute},
        {u"\\a.exe", OsPathRule::make_absolute},
        {u"\\:\\a.exe", OsPathRule::make_absolute},
        {u"C:\\" + std::u16string(244, u'x'), OsPathRule::make_absolute},
        {u"C:\\" + std::u16string(243, u'x'), OsPathRule::keep},
        {u"C:\\" + std::u16string(256, u'x'), OsPathRule::make_absolute},
        {u"C:\\" + std::u16string(257, u'x'), OsPathRule::keep},
        {u"rel" + std::u16string(257, u'x'), OsPathRule::keep},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(plan_os_path(path).rule, expected)
            << testing::PrintToString(path) << " (" << path.size() << " units)";
    }
}

TEST(Paths, ProgramPathVerbatimDriveAndUncPathsOfferTheirPlainForm) {
    const OsPathPlan drive = plan_os_path(u"\\\\?\\C:\\x\\a.exe");
    EXPECT_EQ(drive.rule, OsPathRule::unwrap_if_exact);
    EXPECT_EQ(drive.candidate, u"C:\\x\\a.exe");
    const OsPathPlan unc = plan_os_path(u"\\\\?\\UNC\\server\\share\\a.exe");
    EXPECT_EQ(unc.rule, OsPathRule::unwrap_if_exact);
    EXPECT_EQ(unc.candidate, u"\\\\server\\share\\a.exe");
    EXPECT_EQ(plan_os_path(u"\\\\?\\C:\\" + std::u16string(253, u'x')).rule, OsPathRule::keep);
}

TEST(Paths, WorkingDirectoryVerbatimFormsOfferTheirPlainForm) {
    EXPECT_EQ(working_directory_candidate(u"\\\\?\\UNC\\server\\share"), std::u16string(u"\\\\server\\share"));
    EXPECT_EQ(working_directory_candidate(u"\\\\?\\C:\\dir"), std::u16string(u"C:\\dir"));
    EXPECT_EQ(working_directory_candidate(u"\\\\?\\UNC"), std::u16string(u"\\"));
    EXPECT_EQ(working_directory_candidate(u"C:\\dir"), std::nullopt);
    EXPECT_EQ(working_directory_candidate(u"\\??\\C:\\dir"), std::nullopt);
}

TEST(Paths, FullyQualifiedPathsDoNotDependOnTheCurrentDirectory) {
    const std::pair<std::u16string, bool> cases[] = {
        {uR"(C:\x)", true},   {u"C:/x", true},   {uR"(\\srv\share\x)", true}, {uR"(\\?\C:\x)", true},
        {uR"(\??\C:\x)", true}, {uR"(//srv/x)", true}, {u"x", false},          {uR"(.\x)", false},
        {uR"(..\x)", false},  {uR"(\x)", false},  {u"C:x", false},          {u"C:", false},
        {u"", false},
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
                                      uR"(\\server)", uR"(\\server\)", uR"(\\server\share)", uR"(\\server\share\)",
                                      uR"(\.\)"}) {
        SCOPED_TRACE(testing::PrintToString(path));
        EXPECT_EQ(parent_path(path), std::nullopt);
    }
}

}  // namespace
}  // namespace vellomar
