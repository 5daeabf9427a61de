#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vellomar {

struct VersionNumbers {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

// Removes characters with the Unicode White_Space property from both ends.
std::u16string trim_version(std::u16string_view text);

VersionNumbers split_version(std::u16string_view text);

}  // namespace vellomar
