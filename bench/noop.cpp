// bench_noop: Wine's own costs for the benchmark. It imports what the helper imports (user32 here,
// shell32 and advapi32 through the link options), so that Wine loads the same DLLs at its start.
//   (no argument)  exit at once
//   box            show an error box captioned like the helper's
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR tail, int) {
    if (std::wcscmp(tail, L"box") == 0) {
        (void)MessageBoxW(nullptr, L"bench", L"Vellomar\u66f4\u65b0", MB_ICONERROR);
    }
    return 0;
}
