// dll_search_probe [--restricted] NAME: loads the DLL NAME by bare name, as system code does on
// demand (the first window loads uxtheme.dll so), and exits 0. With --restricted it first limits
// the DLL search to System32 as the helper does. Exit code 3 for a bad command line.
#include <cwchar>

#include "platform/win32.h"

int wmain(int argc, wchar_t** argv);  // the entry point -municode links to

int wmain(int argc, wchar_t** argv) {
    const bool restricted = argc == 3 && std::wcscmp(argv[1], L"--restricted") == 0;
    if (argc != 2 && !restricted) {
        return 3;
    }
    if (restricted) {
        (void)SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // A planted copy refuses to load; the marker it leaves is the evidence, not the result.
    const HMODULE module = LoadLibraryW(argv[argc - 1]);
    if (module != nullptr) {
        FreeLibrary(module);
    }
    return 0;
}
