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
    bool symbolic_link;
    bool regular;
};

const std::vector<FactsCase> facts_cases = {
    {"plain file", {0x20, 0}, false, false, true},
    {"file with normal attribute", {0x80, 0}, false, false, true},
    {"read-only hidden system file", {0x27, 0}, false, false, true},
    {"directory", {0x10, 0}, false, false, false},
    {"symbolic link to a file, unfollowed", {0x420, reparse_tag_symlink}, true, true, false},
    {"symbolic link to a directory, unfollowed", {0x410, reparse_tag_symlink}, true, true, false},
    {"junction, unfollowed", {0x410, reparse_tag_mount_point}, true, false, false},
    {"dangling symbolic link", {0x20 | attribute_reparse_point, reparse_tag_symlink}, true, true, false},
    {"deduplicated file (no name surrogate)", {0x420, 0x80000013}, false, false, true},
    {"app execution alias (no name surrogate)", {0x420, 0x8000001B}, false, false, true},
    {"cloud placeholder directory", {0x410, 0x9000001A}, false, false, false},
    {"link tag without the reparse attribute is ignored", {0x20, reparse_tag_symlink}, false, false, true},
    {"directory seen as reparse point with tag 0", {0x410, 0}, false, false, false},
};

TEST(FileKind, LinksAreReparsePointsWithTheNameSurrogateBit) {
    for (const FactsCase& c : facts_cases) {
        EXPECT_EQ(is_link(c.facts), c.link) << c.name;
    }
}

// A junction is a link too, but only a symbolic link's directory entry hides its target.
TEST(FileKind, SymbolicLinksAreReparsePointsWithTheSymbolicLinkTag) {
    for (const FactsCase& c : facts_cases) {
        EXPECT_EQ(is_symbolic_link(c.facts), c.symbolic_link) << c.name;
    }
}

TEST(FileKind, RegularFilesAreNeitherDirectoriesNorLinks) {
    for (const FactsCase& c : facts_cases) {
        EXPECT_EQ(is_regular_file(c.facts), c.regular) << c.name;
    }
}

}  // namespace
}  // namespace vellomar
