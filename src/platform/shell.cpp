#include "platform/shell.h"

#include "platform/win32.h"

namespace vellomar {

bool open_with_shell(const std::u16string& path) {
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", as_wcstr(path), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

void notify_association_change() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
}

}  // namespace vellomar
