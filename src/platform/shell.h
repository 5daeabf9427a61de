#pragma once
#include <string>

namespace vellomar {

// Opens `path` through the shell with the verb "open" and no arguments, for the user to run it.
// True when the shell took it (ShellExecuteW gave more than 32).
[[nodiscard]] bool open_with_shell(const std::u16string& path);

// SHCNE_ASSOCCHANGED: lists of installed programs read the entry again.
void notify_association_change();

}  // namespace vellomar
