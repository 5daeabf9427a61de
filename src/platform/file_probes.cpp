#include "platform/file_probes.h"

#include <cstdint>

#include "core/paths.h"
#include "core/wait_rules.h"
#include "platform/handles.h"
#include "platform/path_forms.h"
#include "platform/timing.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

// The core decides on file kinds with its own copies of these values.
static_assert(attribute_directory == FILE_ATTRIBUTE_DIRECTORY && attribute_reparse_point == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(reparse_tag_symlink == IO_REPARSE_TAG_SYMLINK && reparse_tag_mount_point == IO_REPARSE_TAG_MOUNT_POINT);

// What a probe through a handle gave: the facts, or nothing with the error of the open (0 when the
// open worked and the attribute query failed).
struct HandleProbe {
    std::optional<FileFacts> facts;
    DWORD open_error = ERROR_SUCCESS;
};

std::optional<FileFacts> facts_of(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) {
        return std::nullopt;
    }
    FileFacts facts;
    facts.attributes = information.dwFileAttributes;
    if ((facts.attributes & attribute_reparse_point) != 0) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag))) {
            return std::nullopt;
        }
        facts.reparse_tag = tag.ReparseTag;
    }
    return facts;
}

// Access 0 needs no rights on the object and meets no sharing conflict with ordinary opens;
// backup semantics lets a directory be opened too.
HandleProbe probe_through_handle(const std::u16string& path, DWORD extra_flags) {
    const UniqueHandle file(CreateFileW(as_wcstr(path), 0, file_share_all, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | extra_flags, nullptr));
    if (!file.valid()) {
        HandleProbe failed;
        failed.open_error = GetLastError();
        return failed;
    }
    HandleProbe probe;
    probe.facts = facts_of(file.get());
    return probe;
}

// The directory entry describes the name itself; for a symbolic link that says nothing about the
// target the other probes follow, so such an entry counts as absence.
std::optional<FileFacts> probe_directory_entry(const std::u16string& path) {
    WIN32_FIND_DATAW entry{};
    const UniqueFind find(
        FindFirstFileExW(as_wcstr(path), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!find.valid()) {
        return std::nullopt;
    }
    FileFacts facts;
    facts.attributes = entry.dwFileAttributes;
    // The entry carries the reparse tag in dwReserved0.
    if ((facts.attributes & attribute_reparse_point) != 0) {
        facts.reparse_tag = entry.dwReserved0;
    }
    if (is_symbolic_link(facts)) {
        return std::nullopt;
    }
    return facts;
}

}  // namespace

// Links are followed. When the object itself cannot be opened (locked system files, denied
// attribute access) its directory entry stands in; when the last link cannot be followed (a
// reparse point the system cannot resolve), the link itself does, unless it is a symbolic link.
std::optional<FileFacts> probe_existing(std::u16string_view path) {
    const std::u16string os_path = file_system_path(path);
    const HandleProbe followed = probe_through_handle(os_path, 0);
    switch (followed.open_error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return probe_directory_entry(os_path);
    case ERROR_CANT_ACCESS_FILE: {
        const HandleProbe unfollowed = probe_through_handle(os_path, FILE_FLAG_OPEN_REPARSE_POINT);
        if (!unfollowed.facts || is_symbolic_link(*unfollowed.facts)) {
            return std::nullopt;
        }
        return unfollowed.facts;
    }
    default:
        return followed.facts;
    }
}

bool path_exists(std::u16string_view path) {
    return probe_existing(path).has_value();
}

bool is_existing_regular_file(std::u16string_view path) {
    const std::optional<FileFacts> facts = probe_existing(path);
    return facts && is_regular_file(*facts);
}

// A failed open of any kind counts as still locked.
void wait_for_file_unlock(std::u16string_view path, std::uint64_t limit_seconds, std::uint32_t probe_pause_ms) {
    const std::u16string os_path = file_system_path(path);
    const std::uint64_t start = monotonic_ms();
    while (unlock_probe_due(monotonic_ms() - start, limit_seconds)) {
        const UniqueHandle file(CreateFileW(as_wcstr(os_path), GENERIC_READ | GENERIC_WRITE, file_share_all, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        if (file.valid()) {
            return;
        }
        pause_ms(probe_pause_ms);
    }
}

}  // namespace vellomar
