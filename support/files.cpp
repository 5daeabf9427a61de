#include "files.h"

#include <atomic>

#include "own_program.h"
#include "platform/handles.h"
#include "text_forms.h"

namespace support {

using vellomar::UniqueHandle;

namespace {

// The verbatim form lifts the MAX_PATH limit for the absolute paths tests make.
std::wstring verbatim(const std::wstring& absolute) {
    return absolute.rfind(L"\\\\?\\", 0) == 0 ? absolute : L"\\\\?\\" + absolute;
}

}  // namespace

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring make_temp_directory(std::wstring_view tag) {
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    static std::atomic<unsigned> counter{0};
    for (;;) {
        std::wstring path = std::wstring(base) + L"vellomar-" + std::wstring(tag) + L"-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
        if (CreateDirectoryW(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
}

std::string read_bytes(const std::wstring& path) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string content;
    char chunk[4096];
    DWORD got = 0;
    while (file.valid() && ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        content.append(chunk, got);
    }
    return content;
}

bool write_bytes(const std::wstring& path, std::string_view bytes) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return file.valid() && write_bytes(file.get(), bytes);
}

bool write_bytes(HANDLE file, std::string_view bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}

bool write_utf8(const std::wstring& path, std::wstring_view text) { return write_bytes(path, to_utf8(text)); }

namespace {

void append_u32(std::string& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
}

bool read_u32(std::string_view bytes, size_t& at, std::uint32_t& value) {
    if (bytes.size() - at < 4) return false;
    value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    at += 4;
    return true;
}

}  // namespace

void append_list(std::string& bytes, const std::vector<std::u16string>& list) {
    append_u32(bytes, static_cast<std::uint32_t>(list.size()));
    for (const std::u16string& text : list) {
        append_u32(bytes, static_cast<std::uint32_t>(text.size()));
        for (const char16_t unit : text) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
    }
}

std::vector<std::vector<std::u16string>> read_lists(std::string_view bytes) {
    std::vector<std::vector<std::u16string>> lists;
    size_t at = 0;
    for (std::uint32_t count = 0; read_u32(bytes, at, count);) {
        std::vector<std::u16string> list;
        while (list.size() < count) {
            std::uint32_t length = 0;
            if (!read_u32(bytes, at, length) || (bytes.size() - at) / 2 < length) return lists;
            for (char16_t& unit : list.emplace_back(length, u'\0')) {
                unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                             static_cast<unsigned char>(bytes[at + 1]) << 8);
                at += 2;
            }
        }
        lists.push_back(std::move(list));
    }
    return lists;
}

void remove_tree(const std::wstring& absolute) {
    WIN32_FIND_DATAW entry{};
    const HANDLE first = FindFirstFileW((verbatim(absolute) + L"\\*").c_str(), &entry);
    const vellomar::UniqueFind find(first);
    for (bool more = find.valid(); more; more = FindNextFileW(first, &entry) != 0) {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = absolute + L"\\" + name;
        const bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (directory && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            (void)RemoveDirectoryW(verbatim(child).c_str());  // the link, not what it points to
        } else if (directory) {
            remove_tree(child);
        } else {
            (void)SetFileAttributesW(verbatim(child).c_str(), FILE_ATTRIBUTE_NORMAL);
            (void)DeleteFileW(verbatim(child).c_str());
        }
    }
    (void)RemoveDirectoryW(verbatim(absolute).c_str());
}

CurrentDirectorySwap::CurrentDirectorySwap(const std::wstring& directory) : saved_(current_directory()) {
    changed_ = SetCurrentDirectoryW(directory.c_str()) != 0;
}

CurrentDirectorySwap::~CurrentDirectorySwap() {
    if (changed_) (void)SetCurrentDirectoryW(saved_.c_str());
}

ScratchDirectory::ScratchDirectory(std::wstring_view tag) : path_(make_temp_directory(tag)) {}

ScratchDirectory::~ScratchDirectory() {
    for (int attempt = 0; attempt < 50 && !path_.empty() && file_exists(verbatim(path_)); ++attempt) {
        if (attempt > 0) Sleep(100);
        remove_tree(path_);
    }
}

std::u16string ScratchDirectory::operator/(std::u16string_view name) const {
    return u16(path_) + u"\\" + std::u16string(name);
}

}  // namespace support
