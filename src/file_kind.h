#pragma once
// Decisions of the file probes and the path rule for file-system calls, kept free of system calls
// so that links, junctions and dangling links can be tested where they cannot be made.
#include <cstdint>
#include <string>
#include <string_view>

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
// Neither a directory nor a link.
bool is_regular_file(const FileFacts& facts);

// Whether a path must be made absolute (and given the verbatim prefix) before a file-system call:
// relative paths and paths of 247 UTF-16 units or more, unless already verbatim or empty.
bool needs_absolute_path(std::u16string_view path);
// The verbatim form of an absolute path: C:\x -> \\?\C:\x, \\server\share -> \\?\UNC\server\share,
// \\.\x -> \\?\x; verbatim paths stay as they are.
std::u16string with_verbatim_prefix(std::u16string_view absolute_path);

}  // namespace vellomar
