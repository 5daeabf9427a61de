#pragma once
// Files for the tests: scratch directories that clean up after themselves, and whole-file reads
// and writes. Paths may exceed MAX_PATH; every handle is owned by a vellomar::UniqueHandle.
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace support {

bool file_exists(const std::wstring& path);

// A fresh, empty directory under the Windows temp folder.
std::wstring make_temp_directory(std::wstring_view tag);

// The whole file; empty when it cannot be opened. Children may still be appending to it.
std::string read_bytes(const std::wstring& path);

// Creates or truncates `path`, or writes to an open file; false when not every byte was written.
bool write_bytes(const std::wstring& path, std::string_view bytes);
bool write_bytes(HANDLE file, std::string_view bytes);
bool write_utf8(const std::wstring& path, std::wstring_view text);

// Lists of UTF-16 strings as bytes, the form argv_probe and its test exchange: a u32 count, then
// each string as a u32 length and its units, all little-endian.
void append_list(std::string& bytes, const std::vector<std::u16string>& list);
// The lists `bytes` holds one after another; a truncated one ends them.
std::vector<std::vector<std::u16string>> read_lists(std::string_view bytes);

// Removes a tree a test made: read-only files and over-long paths included, a directory link
// without what it points to.
void remove_tree(const std::wstring& absolute);

// The process's current directory, changed for one scope and restored afterwards.
class CurrentDirectorySwap {
public:
    explicit CurrentDirectorySwap(const std::wstring& directory);
    ~CurrentDirectorySwap();
    CurrentDirectorySwap(const CurrentDirectorySwap&) = delete;
    CurrentDirectorySwap& operator=(const CurrentDirectorySwap&) = delete;
    bool changed() const { return changed_; }

private:
    std::wstring saved_;
    bool changed_ = false;
};

// A fresh directory under the temp folder, removed with its content at the end; children still
// running from it get a few seconds to end first.
class ScratchDirectory {
public:
    explicit ScratchDirectory(std::wstring_view tag);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::wstring& path() const { return path_; }  // empty when it could not be made
    std::wstring operator/(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }
    std::u16string operator/(std::u16string_view name) const;

private:
    std::wstring path_;
};

}  // namespace support
