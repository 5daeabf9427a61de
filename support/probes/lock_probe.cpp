// lock_probe PATH MILLISECONDS [--share-read]: holds PATH open for reading with no sharing at all, as
// a running program holds its executable, for the given time, then exits. With --share-read it lets
// others read and run the file but not write it, as a virus scanner examining it does; the program
// can then still be started while every write fails. Exit code 2 when the open fails.
// Prints "locked" once it holds the file, for a script that must not go on before.
#include <cstdio>
#include <cwchar>

#include "platform/win32.h"

int wmain(int argc, wchar_t** argv);  // the entry point -municode links to

int wmain(int argc, wchar_t** argv) {
    const bool share_read = argc == 4 && std::wcscmp(argv[3], L"--share-read") == 0;
    if (argc != (share_read ? 4 : 3)) {
        return 3;
    }
    // The test polls for the lock by opening the file itself, which briefly blocks a share-0 open.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
        file = CreateFileW(argv[1], GENERIC_READ, share_read ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
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
