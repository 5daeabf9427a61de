#include "platform/package_deletion.h"

#include <optional>
#include <string>

#include "platform/handles.h"
#include "platform/path_forms.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

// Missing from older SDK headers (they gate FileDispositionInfoEx behind Windows 10 1809).
constexpr auto file_disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
// FILE_DISPOSITION_FLAG_DELETE | _POSIX_SEMANTICS | _IGNORE_READONLY_ATTRIBUTE: the name goes at
// once, even while others hold the file open, and a read-only file goes too.
constexpr DWORD disposition_posix_delete_ignoring_readonly = 0x13;

// Removes a read-only attribute so the classic delete disposition is allowed; the original
// attributes are returned to restore them if the delete is refused after all.
std::optional<DWORD> clear_read_only(HANDLE file) {
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return std::nullopt;
    }
    const DWORD original = basic.FileAttributes;
    FILE_BASIC_INFO changed{};  // zero times: leave them as they are
    changed.FileAttributes = original & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (changed.FileAttributes == 0) {
        changed.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would mean "unchanged"
    }
    if (!SetFileInformationByHandle(file, FileBasicInfo, &changed, sizeof(changed))) {
        return std::nullopt;
    }
    return original;
}

// For systems without the extended disposition (Windows before 10 1809, FAT volumes, Wine): clear
// the read-only attribute, then mark the file for deletion when its last handle closes.
void delete_by_handle_classic(const std::u16string& path) {
    const UniqueHandle file(CreateFileW(as_wcstr(path), DELETE | FILE_WRITE_ATTRIBUTES, file_share_all, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        return;
    }
    const std::optional<DWORD> original_attributes = clear_read_only(file.get());
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition)) ||
        !original_attributes) {
        return;
    }
    FILE_BASIC_INFO restored{};
    restored.FileAttributes = *original_attributes;
    (void)SetFileInformationByHandle(file.get(), FileBasicInfo, &restored, sizeof(restored));
}

// The error of the open or of the disposition request, or ERROR_SUCCESS once the name is gone.
// The open asks for DELETE alone, the least an ACL must grant for this; only the classic way, which
// has to clear the read-only attribute, needs FILE_WRITE_ATTRIBUTES as well and opens anew.
[[nodiscard]] DWORD delete_by_handle_posix(const std::u16string& path) {
    const UniqueHandle file(CreateFileW(as_wcstr(path), DELETE, file_share_all, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        return GetLastError();
    }
    // FILE_DISPOSITION_INFO_EX is a single DWORD of flags.
    DWORD flags = disposition_posix_delete_ignoring_readonly;
    if (!SetFileInformationByHandle(file.get(), file_disposition_info_ex, &flags, sizeof(flags))) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

// How systems without the extended disposition refuse it.
bool is_unsupported_request(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

}  // namespace

// A read-only file makes DeleteFileW fail with access denied; deleting through a handle can
// override that. The handle is opened on the name itself, so a link goes and its target stays.
void delete_package(std::u16string_view path) {
    const std::u16string os_path = file_system_path(path);
    if (DeleteFileW(as_wcstr(os_path)) || GetLastError() != ERROR_ACCESS_DENIED) {
        return;
    }
    if (is_unsupported_request(delete_by_handle_posix(os_path))) {
        delete_by_handle_classic(os_path);
    }
}

}  // namespace vellomar
