// lock_probe PATH MILLISECONDS: holds PATH open for reading with no sharing at all, as a running
// program holds its executable, for the given time, then exits. Exit code 2 when the open fails.
// Prints "locked" once it holds the file, for a script that must not go on before.
#include <cstdio>
#include <cwchar>

#include "platform/win32.h"

int wmain(int argc, wchar_t** argv);  // the entry point -municode links to

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        return 3;
    }
    // The test polls for the lock by opening the file itself, which briefly blocks a share-0 open.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
        file = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            break;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == 1000) {
            return 2;
        }
        Sleep(5);
    }
    std::fputs("locked\n", stdout);
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    CloseHandle(file);
    return 0;
}
