// bench_noop: Wine's own floor for the benchmark, built twice. bench_noop imports kernel32 alone;
// bench_noop_gui also imports what the helper imports (user32, shell32, advapi32), so the two
// together show what loading those DLLs costs at process start.
//   (no argument)  exit at once
//   idle           stay 1 s, so that the working set of a process doing nothing can be read
//   box            (bench_noop_gui) show an error box captioned like the helper's
//   notify         (bench_noop_gui) open the uninstall key and notify the shell, as a finished update does
#include <windows.h>

#include <cwchar>

#ifdef BENCH_HELPER_IMPORTS
#include <shlobj.h>
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR tail, int) {
    if (std::wcscmp(tail, L"idle") == 0) {
        Sleep(1000);
    }
#ifdef BENCH_HELPER_IMPORTS
    if (std::wcscmp(tail, L"box") == 0) {
        (void)MessageBoxW(nullptr, L"bench", L"Vellomar\u66f4\u65b0", MB_ICONERROR);
    }
    if (std::wcscmp(tail, L"notify") == 0) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellomar", 0,
                          KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            (void)RegCloseKey(key);
        }
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
    }
#endif
    return 0;
}
