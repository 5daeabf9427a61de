#include "file_kind.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellomar {
namespace {

// Links, junctions and dangling links cannot be made under Wine, so their facts are tabled here as
// Windows reports them.
struct FactsCase {
    const char* name;
    FileFacts facts;
    bool link;
    bool regular;
};

const std::vector<FactsCase> facts_cases = {
    {"plain file", {0x20, 0}, false, true},
    {"file with normal attribute", {0x80, 0}, false, true},
    {"read-only hidden system file", {0x27, 0}, false, true},
    {"directory", {0x10, 0}, false, false},
    {"symbolic link to a file, unfollowed", {0x420, reparse_tag_symlink}, true, false},
    {"symbolic link to a directory, unfollowed", {0x410, reparse_tag_symlink}, true, false},
    {"junction, unfollowed", {0x410, reparse_tag_mount_point}, true, false},
    {"dangling symbolic link", {0x20 | attribute_reparse_point, reparse_tag_symlink}, true, false},
    {"deduplicated file (no name surrogate)", {0x420, 0x80000013}, false, true},
    {"app execution alias (no name surrogate)", {0x420, 0x8000001B}, false, true},
    {"cloud placeholder directory", {0x410, 0x9000001A}, false, false},
    {"link tag without the reparse attribute is ignored", {0x20, reparse_tag_symlink}, false, true},
    {"directory seen as reparse point with tag 0", {0x410, 0}, false, false},
};

TEST(FileKind, LinksAreReparsePointsWithTheNameSurrogateBit) {
    for (const FactsCase& c : facts_cases) {
        EXPECT_EQ(is_link(c.facts), c.link) << c.name;
    }
}

TEST(FileKind, RegularFilesAreNeitherDirectoriesNorLinks) {
    for (const FactsCase& c : facts_cases) {
        EXPECT_EQ(is_regular_file(c.facts), c.regular) << c.name;
    }
}

std::u16string repeated(char16_t unit, std::size_t count) {
    return std::u16string(count, unit);
}

struct PathCase {
    std::u16string path;
    bool needs_absolute;
};

TEST(FileKind, RelativeAndLongPathsAreMadeAbsolute) {
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
        {u"1:\\setup.exe", true},
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
            << "length " << c.path.size() << ": " << std::string(c.path.begin(), c.path.end());
    }
}

struct PrefixCase {
    std::u16string absolute;
    std::u16string verbatim;
};

TEST(FileKind, VerbatimPrefixFollowsTheKindOfAbsolutePath) {
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
    };
    for (const PrefixCase& c : cases) {
        EXPECT_EQ(with_verbatim_prefix(c.absolute), c.verbatim) << std::string(c.absolute.begin(), c.absolute.end());
    }
}

}  // namespace
}  // namespace vellomar
