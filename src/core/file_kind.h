#pragma once
// Decisions of the file probes, kept free of system calls so that links, junctions and dangling
// links can be tested where they cannot be made.
#include <cstdint>

namespace vellomar {

inline constexpr std::uint32_t attribute_directory = 0x10;
inline constexpr std::uint32_t attribute_reparse_point = 0x400;
inline constexpr std::uint32_t reparse_tag_symlink = 0xA000000C;
inline constexpr std::uint32_t reparse_tag_mount_point = 0xA0000003;

// What a file probe learned about an existing object.
struct FileFacts {
    std::uint32_t attributes = 0;
    std::uint32_t reparse_tag = 0;  // only meaningful with attribute_reparse_point
};

// A symbolic link or junction: a reparse point whose tag has the name-surrogate bit.
bool is_link(const FileFacts& facts);
// A symbolic link, not a junction: its directory entry describes the link, never the target the
// probes follow, so the entry cannot stand in for the target.
bool is_symbolic_link(const FileFacts& facts);
// Neither a directory nor a link.
bool is_regular_file(const FileFacts& facts);

}  // namespace vellomar
