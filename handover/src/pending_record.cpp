#include "pending_record.h"

#include <cstring>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "platform/handles.h"
#include "platform/path_forms.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

constexpr std::u16string_view record_name = u"vellomar-update.pending";
// Four paths of at most 32767 units and a version: anything larger is not a record.
constexpr DWORD largest_record_bytes = 1 << 20;

std::uint32_t write_whole_file(const std::u16string& path, const std::u16string& text) {
    const UniqueHandle file(CreateFileW(as_wcstr(file_system_path(path)), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return GetLastError();
    }
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(char16_t));
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), bytes, &written, nullptr)) {
        return GetLastError();
    }
    if (written != bytes) {
        return ERROR_WRITE_FAULT;
    }
    // On the disk before the rename, so that a crash cannot leave a renamed but empty record.
    if (!FlushFileBuffers(file.get())) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

bool move_file(const std::u16string& from, const std::u16string& to, DWORD flags) {
    return MoveFileExW(as_wcstr(file_system_path(from)), as_wcstr(file_system_path(to)), flags) != 0;
}

}  // namespace

std::u16string record_path(std::u16string_view state_dir) {
    return join_path(state_dir, record_name);
}

std::uint32_t write_record(std::u16string_view state_dir, const PendingUpdate& update) {
    const std::u16string record = record_path(state_dir);
    const std::u16string temporary = record + u".tmp";
    std::uint32_t error = write_whole_file(temporary, encode_record(update));
    if (error == ERROR_SUCCESS && !move_file(temporary, record, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        remove_file(temporary);
    }
    return error;
}

RecordRead read_record(std::u16string_view path) {
    const UniqueHandle file(CreateFileW(as_wcstr(file_system_path(path)), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    RecordRead read;
    if (!file.valid()) {
        const std::uint32_t error = GetLastError();
        read.present = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        return read;
    }
    read.present = true;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > largest_record_bytes || size.QuadPart % 2 != 0) {
        return read;
    }
    std::vector<char> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size())) {
        return read;
    }
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), bytes.size());
    read.update = decode_record(text);
    return read;
}

std::optional<std::u16string> claim_record(std::u16string_view state_dir) {
    const std::u16string record = record_path(state_dir);
    const std::u16string claimed = record + u"." + unsigned_decimal(GetCurrentProcessId());
    if (!move_file(record, claimed, MOVEFILE_REPLACE_EXISTING)) {
        return std::nullopt;
    }
    return claimed;
}

void return_claim(const std::u16string& claimed, std::u16string_view state_dir) {
    if (!move_file(claimed, record_path(state_dir), 0)) {
        remove_file(claimed);
    }
}

void remove_file(std::u16string_view path) {
    (void)DeleteFileW(as_wcstr(file_system_path(path)));
}

}  // namespace vellomar
