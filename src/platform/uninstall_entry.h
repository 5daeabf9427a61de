#pragma once
#include <string_view>

#include "platform/win32.h"

namespace vellomar {

inline constexpr wchar_t uninstall_entry_path[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellomar";

// Writes DisplayVersion, VersionMajor and VersionMinor into an existing entry of `hive`;
// a missing entry or any failed write is skipped silently. `version` is trimmed and non-empty.
void stamp_uninstall_version(HKEY hive, std::u16string_view version);

}  // namespace vellomar
