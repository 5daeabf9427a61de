#include "platform/shell.h"

#include "platform/win32.h"

namespace vellomar {

bool open_with_shell(const std::u16string& path) {
    // The shell may hand the open to an extension that needs COM on this thread. It stays
    // initialised: the helper ends right after the open.
    (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", as_wcstr(path), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

void notify_association_change() {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
}

}  // namespace vellomar
