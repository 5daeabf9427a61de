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
constexpr std::u16string_view record_magic = u"vellomar-update pending 1";
constexpr std::u16string_view record_end = u"end";
// Four paths of at most 32767 units and a version: anything larger is not a record.
constexpr DWORD largest_record_bytes = 1 << 20;

// The record is UTF-16LE: the magic, version, package, helper copy, application pid and `end`,
// each followed by a NUL. No field can hold a NUL (they come from NUL-terminated strings), so
// any other shape, a cut-off tail included, is a torn record.
std::u16string encode(const PendingUpdate& update) {
    const std::u16string pid = unsigned_decimal(update.application_pid);
    const std::u16string_view fields[] = {record_magic, update.version, update.package, update.helper_copy, pid,
                                          record_end};
    std::u16string text;
    for (const std::u16string_view field : fields) {
        text += field;
        text += u'\0';
    }
    return text;
}

std::optional<PendingUpdate> decode(std::u16string_view text) {
    std::vector<std::u16string_view> fields;
    while (!text.empty()) {
        const std::size_t end = text.find(u'\0');
        if (end == std::u16string_view::npos) {
            return std::nullopt;
        }
        fields.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if (fields.size() != 6 || fields[0] != record_magic || fields[5] != record_end ||
        !is_fully_qualified(fields[2]) || !is_fully_qualified(fields[3])) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> pid = parse_decimal(fields[4]);
    if (!pid) {
        return std::nullopt;
    }
    return PendingUpdate{std::u16string(fields[1]), std::u16string(fields[2]), std::u16string(fields[3]), *pid};
}

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

}  // namespace

std::u16string record_path(std::u16string_view state_dir) {
    return join_path(state_dir, record_name);
}

std::uint32_t write_record(std::u16string_view state_dir, const PendingUpdate& update) {
    const std::u16string record = record_path(state_dir);
    const std::u16string temporary = record + u".tmp";
    std::uint32_t error = write_whole_file(temporary, encode(update));
    if (error == ERROR_SUCCESS &&
        !MoveFileExW(as_wcstr(file_system_path(temporary)), as_wcstr(file_system_path(record)),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        (void)DeleteFileW(as_wcstr(file_system_path(temporary)));
    }
    return error;
}

RecordRead read_record(std::u16string_view state_dir) {
    const UniqueHandle file(CreateFileW(as_wcstr(file_system_path(record_path(state_dir))), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    RecordRead read;
    if (!file.valid()) {
        const DWORD error = GetLastError();
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
    read.update = decode(text);
    return read;
}

void remove_record(std::u16string_view state_dir) {
    (void)DeleteFileW(as_wcstr(file_system_path(record_path(state_dir))));
}

}  // namespace vellomar
