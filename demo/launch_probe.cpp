// launch_probe: starts a program with an exact command line, as an application would, and reports
// how it went: what scripts need to pass NSIS's unquoted /D= or to see the helper's standard error.
//   launch_probe [--cwd DIR] PROGRAM COMMAND-LINE
// Prints, in UTF-8: exit=<code> elapsed_ms=<n>, one line per message box, then the bytes the program
// wrote to its standard error. Its own exit code is 0, or 3 when the program did not start.
#include <cstdio>
#include <string>

#include "program_runs.h"

int wmain(int argc, wchar_t** argv) {
    support::RunOptions options;
    const int first = argc == 5 && std::wstring(argv[1]) == L"--cwd" ? 3 : 1;
    if (argc != first + 2) {
        std::fputs("usage: launch_probe [--cwd DIR] PROGRAM COMMAND-LINE\n", stderr);
        return 2;
    }
    if (first == 3) options.current_directory = argv[2];
    const support::RunResult result = support::run_exact(argv[first], argv[first + 1], options);
    if (!result.started) {
        std::printf("not started: error %lu\n", result.start_error);
        return 3;
    }
    std::printf("exit=%ld elapsed_ms=%llu%s\n", static_cast<long>(result.exit_code),
                static_cast<unsigned long long>(result.elapsed_ms), result.timed_out ? " timed_out" : "");
    for (const support::MessageBoxRecord& box : result.boxes) {
        std::printf("box %s: %s\n", support::to_utf8(box.caption).c_str(), support::to_utf8(box.text).c_str());
    }
    std::fwrite(result.standard_error.data(), 1, result.standard_error.size(), stdout);
    return 0;
}
