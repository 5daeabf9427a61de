#pragma once
#include <string_view>

namespace vellomar {

enum class Hive { current_user, local_machine };

inline constexpr std::u16string_view uninstall_entry_path =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellomar";

// Writes DisplayVersion, VersionMajor and VersionMinor into an existing entry of `hive`;
// a missing entry or any failed write is skipped silently. `version` is trimmed and non-empty.
void stamp_uninstall_version(Hive hive, std::u16string_view version);

}  // namespace vellomar
