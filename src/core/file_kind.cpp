#include "core/file_kind.h"

namespace vellomar {

namespace {

// Set in the tags of symbolic links and junctions: the reparse point stands for another name.
constexpr std::uint32_t reparse_tag_name_surrogate = 0x20000000;

}  // namespace

bool is_link(const FileFacts& facts) {
    return (facts.attributes & attribute_reparse_point) != 0 &&
           (facts.reparse_tag & reparse_tag_name_surrogate) != 0;
}

bool is_symbolic_link(const FileFacts& facts) {
    return (facts.attributes & attribute_reparse_point) != 0 && facts.reparse_tag == reparse_tag_symlink;
}

bool is_regular_file(const FileFacts& facts) {
    return (facts.attributes & attribute_directory) == 0 && !is_link(facts);
}

}  // namespace vellomar
