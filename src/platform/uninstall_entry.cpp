#include "platform/uninstall_entry.h"

#include <string>

#include "core/version_text.h"
#include "platform/handles.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

[[nodiscard]] LSTATUS set_string_value(HKEY key, const wchar_t* name, std::u16string_view text) {
    const std::u16string data(text);
    // REG_SZ data carries its terminating NUL.
    const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(char16_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes);
}

[[nodiscard]] LSTATUS set_dword_value(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace

void stamp_uninstall_version(Hive hive, std::u16string_view version) {
    const HKEY root = hive == Hive::current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::u16string path(uninstall_entry_path);
    // The installer creates the entry; an absent or protected one is left alone, never created.
    UniqueKey entry;
    if (RegOpenKeyExW(root, as_wcstr(path), 0, KEY_SET_VALUE, entry.receive()) != ERROR_SUCCESS) {
        return;
    }
    // Each value is written on its own: one refused write must not keep the others out.
    (void)set_string_value(entry.get(), L"DisplayVersion", version);
    const VersionNumbers numbers = split_version(version);
    (void)set_dword_value(entry.get(), L"VersionMajor", numbers.major);
    (void)set_dword_value(entry.get(), L"VersionMinor", numbers.minor);
}

}  // namespace vellomar
