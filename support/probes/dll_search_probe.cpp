// dll_search_probe: shows one error box captioned as the helper's, without restricting the DLL
// search as the helper does, and exits 0 once it is dismissed. Its first window makes system code
// load uxtheme.dll by bare name, as the helper's box does.
#include "own_program.h"
#include "program_runs.h"

int wmain(int, wchar_t**) {
    (void)MessageBoxW(nullptr, L"dll_search_probe", support::helper_caption, MB_OK | MB_ICONERROR);
    return 0;
}
