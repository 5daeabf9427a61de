#include "file_steps.h"

#include "core/paths.h"
#include "core/text.h"
#include "platform/handles.h"
#include "platform/path_forms.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::u16string_view exe_suffix = u".exe";

// How many names a copy may take before the start gives up: one per earlier helper still running.
constexpr int copy_names = 16;

bool equal_ignoring_case(std::u16string_view first, std::u16string_view second) {
    return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(first.data()), static_cast<int>(first.size()),
                                reinterpret_cast<const wchar_t*>(second.data()), static_cast<int>(second.size()),
                                TRUE) == CSTR_EQUAL;
}

// The helper's file name without a final `.exe`: the copies keep the application's own name for it.
std::u16string_view helper_stem(std::u16string_view helper) {
    std::size_t start = helper.size();
    while (start > 0 && !is_separator(helper[start - 1])) {
        --start;
    }
    std::u16string_view name = helper.substr(start);
    if (name.size() > exe_suffix.size() && ends_with_ignoring_case(name, exe_suffix)) {
        name.remove_suffix(exe_suffix.size());
    }
    return name;
}

// The file a copy in use (an earlier helper still running from it) fails with.
bool is_in_use_error(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE;
}

}  // namespace

// Names, for the helper `vellomar-update.exe`: `vellomar-update.handover.exe`, then
// `vellomar-update.handover-2.exe` ... `-16`. A name in use by a running copy is passed over; a
// name that is the package's or the helper's own is never overwritten.
std::variant<std::u16string, std::uint32_t> copy_helper(std::u16string_view helper, std::u16string_view package,
                                                        std::u16string_view directory) {
    const std::u16string source = file_system_path(helper);
    DWORD error = ERROR_SUCCESS;
    for (int number = 1; number <= copy_names; ++number) {
        std::u16string name(helper_stem(helper));
        name += u".handover";
        if (number > 1) {
            name += u'-';
            name += unsigned_decimal(static_cast<std::uint32_t>(number));
        }
        name += exe_suffix;
        const std::u16string copy = join_path(directory, name);
        if (equal_ignoring_case(copy, package) || equal_ignoring_case(copy, helper)) {
            continue;
        }
        if (CopyFileW(as_wcstr(source), as_wcstr(file_system_path(copy)), FALSE)) {
            return copy;
        }
        error = GetLastError();
        if (!is_in_use_error(error)) {
            return static_cast<std::uint32_t>(error);
        }
    }
    return static_cast<std::uint32_t>(error);
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

bool same_file(std::u16string_view first, std::u16string_view second) {
    BY_HANDLE_FILE_INFORMATION information[2]{};
    const std::u16string_view paths[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        const UniqueHandle file(CreateFileW(as_wcstr(file_system_path(paths[i])), 0, share_all, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file.valid() || !GetFileInformationByHandle(file.get(), &information[i])) {
            return false;
        }
    }
    return information[0].dwVolumeSerialNumber == information[1].dwVolumeSerialNumber &&
           information[0].nFileIndexHigh == information[1].nFileIndexHigh &&
           information[0].nFileIndexLow == information[1].nFileIndexLow;
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
