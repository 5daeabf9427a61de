#include "core/file_kind.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vellomar
