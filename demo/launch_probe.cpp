// Starts a program with an exact UTF-16 command line and reports how it went, so that scripts can
// drive the helper with any quoting, unpaired surrogates included.
//   launch_probe [--cwd DIR] [--no-std] [--timeout-ms N] PROGRAM COMMAND-LINE
// COMMAND-LINE is taken literally except for \u{XXXX}, which stands for that one UTF-16 unit.
// Prints, in UTF-8: exit=<code> elapsed_ms=<n>, then one line per message box, then the standard
// error bytes the program wrote. The probe's own exit code is 0, or 3 when the program did not start.
#include <cstdio>
#include <string>

#include "probe_support.h"

namespace {

std::wstring unescape(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, L"\\u{") == 0) {
            const size_t close = text.find(L'}', i + 3);
            if (close != std::wstring::npos && close > i + 3 && close - i - 3 <= 4) {
                out.push_back(static_cast<wchar_t>(std::wcstoul(text.substr(i + 3, close - i - 3).c_str(), nullptr, 16)));
                i = close;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    probe::RunOptions options;
    int i = 1;
    for (; i + 1 < argc; ++i) {
        const std::wstring flag = argv[i];
        if (flag == L"--cwd") {
            options.current_directory = argv[++i];
        } else if (flag == L"--no-std") {
            options.give_standard_error = false;
        } else if (flag == L"--timeout-ms") {
            options.timeout_ms = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else {
            break;
        }
    }
    if (argc - i != 2) {
        std::fputs("usage: launch_probe [--cwd DIR] [--no-std] [--timeout-ms N] PROGRAM COMMAND-LINE\n", stderr);
        return 2;
    }
    const probe::RunResult result = probe::run_exact(argv[i], unescape(argv[i + 1]), options);
    if (!result.started) {
        std::printf("not started: error %lu\n", static_cast<unsigned long>(result.start_error));
        return 3;
    }
    std::printf("exit=%ld elapsed_ms=%llu%s\n", static_cast<long>(result.exit_code),
                static_cast<unsigned long long>(result.elapsed_ms), result.timed_out ? " timed_out" : "");
    for (const probe::MessageBoxRecord& box : result.boxes) {
        std::printf("box caption=%s icon=%s text=%s\n", probe::to_utf8(box.caption).c_str(),
                    box.error_icon ? "error" : "other", probe::to_utf8(box.text).c_str());
    }
    std::fwrite(result.standard_error.data(), 1, result.standard_error.size(), stdout);
    std::fflush(stdout);
    return 0;
}
