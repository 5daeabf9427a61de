#include "file_kind.h"

#include <cstddef>

namespace vellomar {

namespace {

// Set in the tags of symbolic links and junctions: the reparse point stands for another name.
constexpr std::uint32_t reparse_tag_name_surrogate = 0x20000000;

// Shorter paths work everywhere without the verbatim prefix: a directory path must leave room for
// an 8.3 name within MAX_PATH (260 - 12 = 248 units with the NUL).
constexpr std::size_t long_path_units = 247;

constexpr std::u16string_view verbatim_prefix = u"\\\\?\\";
constexpr std::u16string_view nt_object_prefix = u"\\??\\";

bool is_separator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

bool is_ascii_letter(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
}

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool is_verbatim(std::u16string_view path) {
    return starts_with(path, verbatim_prefix) || starts_with(path, nt_object_prefix);
}

bool has_two_leading_separators(std::u16string_view path) {
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

// `C:` alone or `C:\…`; `C:foo` is relative to the current directory of drive C.
bool is_drive_absolute(std::u16string_view path) {
    if (path.size() < 2 || !is_ascii_letter(path[0]) || path[1] != u':') {
        return false;
    }
    return path.size() == 2 || is_separator(path[2]);
}

// \\.\x, or a device path written with other separators such as //?/x.
bool is_device_path(std::u16string_view path) {
    return path.size() >= 4 && has_two_leading_separators(path) && (path[2] == u'.' || path[2] == u'?') &&
           is_separator(path[3]);
}

}  // namespace

bool is_link(const FileFacts& facts) {
    return (facts.attributes & attribute_reparse_point) != 0 &&
           (facts.reparse_tag & reparse_tag_name_surrogate) != 0;
}

bool is_regular_file(const FileFacts& facts) {
    return (facts.attributes & attribute_directory) == 0 && !is_link(facts);
}

// Rules, in order:
//   empty, or already \\?\ or \??\          -> used as given
//   247 units or longer                     -> made absolute (so it can become verbatim)
//   C:, C:\…, C:/…, or two leading separators -> used as given
//   anything else (x, .\x, \x, C:x)          -> made absolute
bool needs_absolute_path(std::u16string_view path) {
    if (path.empty() || is_verbatim(path)) {
        return false;
    }
    if (path.size() >= long_path_units) {
        return true;
    }
    return !is_drive_absolute(path) && !has_two_leading_separators(path);
}

// C:\x -> \\?\C:\x; \\.\x -> \\?\x; \\server\share -> \\?\UNC\server\share; verbatim stays.
std::u16string with_verbatim_prefix(std::u16string_view absolute_path) {
    if (is_verbatim(absolute_path)) {
        return std::u16string(absolute_path);
    }
    if (is_device_path(absolute_path)) {
        return std::u16string(verbatim_prefix).append(absolute_path.substr(4));
    }
    if (has_two_leading_separators(absolute_path)) {
        return std::u16string(verbatim_prefix).append(u"UNC\\").append(absolute_path.substr(2));
    }
    return std::u16string(verbatim_prefix).append(absolute_path);
}

}  // namespace vellomar
