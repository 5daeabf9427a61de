#include "file_steps.h"

#include "core/paths.h"
#include "core/text.h"
#include "platform/handles.h"
#include "platform/path_forms.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

// The file a copy in use (an earlier helper still running from it) fails with.
bool is_in_use_error(std::uint32_t error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE;
}

std::uint64_t filetime_value(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// A copy inherits the installed helper's attributes: a read-only one could never be replaced or
// deleted again.
void make_writable(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(as_wcstr(path));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        (void)SetFileAttributesW(as_wcstr(path), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
}

}  // namespace

// A name in use by a running copy is passed over; the last refusal is the answer when all are.
OsResult<std::u16string> copy_helper(std::u16string_view helper, std::u16string_view package,
                                     std::u16string_view state_dir) {
    const std::u16string source = file_system_path(helper);
    std::uint32_t error = ERROR_SUCCESS;
    for (int number = 1; number <= copy_names; ++number) {
        const std::optional<std::u16string> copy = copy_path(helper, package, state_dir, number);
        if (!copy) {
            continue;
        }
        const std::u16string target = file_system_path(*copy);
        make_writable(target);
        if (CopyFileW(as_wcstr(source), as_wcstr(target), FALSE)) {
            make_writable(target);
            return {*copy, 0};
        }
        error = GetLastError();
        if (!is_in_use_error(error)) {
            break;
        }
    }
    return {{}, error};
}

void sweep_copies(std::u16string_view state_dir, std::u16string_view package) {
    WIN32_FIND_DATAW entry{};
    const UniqueFind find(
        FindFirstFileExW(as_wcstr(file_system_path(join_path(state_dir, u"*.handover*.exe"))), FindExInfoBasic, &entry,
                         FindExSearchNameMatch, nullptr, 0));
    if (!find.valid()) {
        return;
    }
    do {
        const std::u16string name = from_wide(entry.cFileName, wcslen(entry.cFileName));
        const std::u16string path = join_path(state_dir, name);
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !is_copy_name(name) ||
            same_path_text(path, package)) {
            continue;
        }
        make_writable(file_system_path(path));
        (void)delete_if_unused(path);
    } while (FindNextFileW(find.get(), &entry));
}

// Opened with no sharing, the file is refused while any other handle to it is open; the delete on
// close then fails for a running program's image as well.
bool delete_if_unused(std::u16string_view path) {
    const UniqueHandle file(CreateFileW(as_wcstr(file_system_path(path)), DELETE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition)) != 0;
}

FileStamp file_stamp(std::u16string_view path) {
    const UniqueHandle file(CreateFileW(as_wcstr(file_system_path(path)), 0, file_share_all, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &information)) {
        return {};
    }
    return FileStamp{information.dwVolumeSerialNumber,
                     (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow,
                     filetime_value(information.ftLastWriteTime)};
}

// A probe file named for this thread, gone when its handle closes; creating a file is what the
// installer's first step needs. Where Windows virtualises a legacy 32-bit program's writes, the
// probe succeeds in the virtual store and so says yes for a directory the installer cannot write.
bool can_create_file_in(std::u16string_view directory) {
    const DWORD attributes = GetFileAttributesW(as_wcstr(file_system_path(directory)));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    const std::u16string probe =
        join_path(directory, u"vellomar-update-probe-" + unsigned_decimal(GetCurrentProcessId()) + u"-" +
                                 unsigned_decimal(GetCurrentThreadId()) + u".tmp");
    const UniqueHandle file(CreateFileW(as_wcstr(file_system_path(probe)), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                        nullptr));
    return file.valid();
}

}  // namespace vellomar
