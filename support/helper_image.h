#pragma once
// What the built helper's image must be, for its test and the bench alike: the image as read from
// its file, the size budget and the DLLs it may import.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace support {

// The budget leaves room above the stripped size-optimised helper as built (the README's bench
// results give its size) for the helper's own growth, while a library file pulled back in by one new
// use breaks it: GNU ld keeps such a file whole, and the narrow string code alone is 22 KiB, the
// exception support that the library's throw functions bring 36 KiB.
inline constexpr std::size_t helper_size_budget_kib = 64;

struct PeImage {
    size_t file_size = 0;
    IMAGE_FILE_HEADER file{};
    IMAGE_OPTIONAL_HEADER64 optional{};
    std::vector<IMAGE_SECTION_HEADER> sections;
    std::vector<std::string> imports;
    std::vector<std::string> exports;
};

// A 64-bit PE image read from its file; nothing when it is missing or malformed.
std::optional<PeImage> read_pe_image(const std::wstring& path);

std::string lower(std::string text);

// DLLs that come with every Windows and that the loader takes from the system, never from the
// exe's folder; the toolchain's own runtimes (libstdc++, libgcc, libwinpthread) are not among them.
bool is_system_dll(const std::string& name);

}  // namespace support
