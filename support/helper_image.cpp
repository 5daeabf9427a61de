#include "helper_image.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "files.h"

namespace support {

namespace {

template <typename T>
std::optional<T> read_at(const std::string& bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::optional<size_t> file_offset(const PeImage& image, DWORD rva) {
    for (const IMAGE_SECTION_HEADER& section : image.sections) {
        const DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
        if (rva >= section.VirtualAddress && rva - section.VirtualAddress < size) {
            return size_t{section.PointerToRawData} + (rva - section.VirtualAddress);
        }
    }
    return std::nullopt;
}

std::optional<std::string> read_name(const std::string& bytes, size_t offset) {
    if (offset >= bytes.size()) return std::nullopt;
    const char* begin = bytes.data() + offset;
    const char* end = std::find(begin, bytes.data() + bytes.size(), '\0');
    if (end == bytes.data() + bytes.size()) return std::nullopt;
    return std::string(begin, end);
}

// The import directory is an array of descriptors ended by an all-zero one; each names one DLL.
std::optional<std::vector<std::string>> read_imports(const std::string& bytes, const PeImage& image) {
    const IMAGE_DATA_DIRECTORY directory = image.optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    if (directory.VirtualAddress == 0) return names;
    std::optional<size_t> offset = file_offset(image, directory.VirtualAddress);
    if (!offset) return std::nullopt;
    for (;; *offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto descriptor = read_at<IMAGE_IMPORT_DESCRIPTOR>(bytes, *offset);
        if (!descriptor) return std::nullopt;
        if (descriptor->Name == 0 && descriptor->FirstThunk == 0) return names;
        const std::optional<size_t> name_offset = file_offset(image, descriptor->Name);
        if (!name_offset) return std::nullopt;
        const std::optional<std::string> name = read_name(bytes, *name_offset);
        if (!name) return std::nullopt;
        names.push_back(*name);
    }
}

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The export directory points to an array of name addresses, sorted by name.
std::optional<std::vector<std::string>> read_exports(const std::string& bytes, const PeImage& image) {
    const IMAGE_DATA_DIRECTORY directory = image.optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (directory.VirtualAddress == 0) return names;
    const std::optional<size_t> offset = file_offset(image, directory.VirtualAddress);
    if (!offset) return std::nullopt;
    const auto exports = read_at<IMAGE_EXPORT_DIRECTORY>(bytes, *offset);
    if (!exports) return std::nullopt;
    const std::optional<size_t> table = file_offset(image, exports->AddressOfNames);
    for (DWORD index = 0; index < exports->NumberOfNames; ++index) {
        const auto name_rva = table ? read_at<DWORD>(bytes, *table + index * sizeof(DWORD)) : std::nullopt;
        const std::optional<size_t> name_offset = name_rva ? file_offset(image, *name_rva) : std::nullopt;
        const std::optional<std::string> name = name_offset ? read_name(bytes, *name_offset) : std::nullopt;
        if (!name) return std::nullopt;
        names.push_back(*name);
    }
    return names;
}

}  // namespace

std::optional<PeImage> read_pe_image(const std::wstring& path) {
    const std::string bytes = read_bytes(path);
    const auto dos = read_at<IMAGE_DOS_HEADER>(bytes, 0);
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0) return std::nullopt;
    const size_t nt_offset = static_cast<size_t>(dos->e_lfanew);
    const auto nt = read_at<IMAGE_NT_HEADERS64>(bytes, nt_offset);
    if (!nt || nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        return std::nullopt;
    }
    PeImage image;
    image.file_size = bytes.size();
    image.file = nt->FileHeader;
    image.optional = nt->OptionalHeader;
    const size_t sections_offset = nt_offset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                   nt->FileHeader.SizeOfOptionalHeader;
    for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index) {
        const auto section = read_at<IMAGE_SECTION_HEADER>(bytes, sections_offset + index * sizeof(IMAGE_SECTION_HEADER));
        if (!section) return std::nullopt;
        image.sections.push_back(*section);
    }
    std::optional<std::vector<std::string>> imports = read_imports(bytes, image);
    if (!imports) return std::nullopt;
    image.imports = *imports;
    std::optional<std::vector<std::string>> exports = read_exports(bytes, image);
    if (!exports) return std::nullopt;
    image.exports = *exports;
    return image;
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool is_system_dll(const std::string& name) {
    const std::string key = lower(name);
    for (const char* allowed : {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "ntdll.dll", "msvcrt.dll"}) {
        if (key == allowed) return true;
    }
    return starts_with(key, "api-ms-win-crt-") && key.size() > 4 && key.compare(key.size() - 4, 4, ".dll") == 0;
}

}  // namespace support
