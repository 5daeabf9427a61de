// Reads and dismisses the helper's message boxes, for scripts that start the helper themselves.
//   msgbox_watcher [--pid P] [--count N] [--timeout-ms N]
// Prints one UTF-8 line per box ("box caption=... icon=error|other text=...") and exits after N
// boxes (default 1) or the timeout (default 60000 ms); exit code 0 when N boxes were seen, else 1.
#include <cstdio>
#include <string>

#include "probe_support.h"

int wmain(int argc, wchar_t** argv) {
    DWORD pid = 0;
    size_t count = 1;
    DWORD timeout_ms = 60000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring flag = argv[i];
        const unsigned long value = std::wcstoul(argv[i + 1], nullptr, 10);
        if (flag == L"--pid") pid = value;
        else if (flag == L"--count") count = value;
        else if (flag == L"--timeout-ms") timeout_ms = value;
    }
    const std::uint64_t deadline = probe::now_ms() + timeout_ms;
    size_t seen = 0;
    probe::BoxWatch* watch = probe::start_box_watch(pid, probe::helper_caption);
    while (seen < count && probe::now_ms() < deadline) {
        Sleep(50);
        for (const probe::MessageBoxRecord& box : probe::take_box_records(watch)) {
            std::printf("box caption=%s icon=%s text=%s\n", probe::to_utf8(box.caption).c_str(),
                        box.error_icon ? "error" : "other", probe::to_utf8(box.text).c_str());
            std::fflush(stdout);
            ++seen;
        }
    }
    (void)probe::stop_box_watch(watch);
    return seen >= count ? 0 : 1;
}
