#include "update.h"

#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The helper usually runs from a download or temp folder that other programs can write to, so
    // a DLL planted beside it would be picked up by the next on-demand load (a message box loads
    // uxtheme.dll, for one). From here on, DLLs loaded by bare name come from System32 only. Its
    // static imports are all KnownDLLs, which the loader never takes from the exe's folder.
    (void)SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Loads that bypass the default directories (LOAD_WITH_ALTERED_SEARCH_PATH) still search the
    // current directory unless it is removed; it is usually that same folder.
    (void)SetDllDirectoryW(L"");
    return static_cast<int>(vellomar::run_update());
}
