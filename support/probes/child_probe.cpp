// child_probe: the child that tests start: a stand-in for the installer and for the application.
//
// Every run makes one record: UTF-8, fields separated by TAB, ending in LF:
//   run <n> TAB <ms since the Unix epoch> TAB <GetCommandLineW> TAB <current directory>
//   TAB std=<in><out><err> TAB <argv joined by U+001F>
// std= has 1 for each standard handle that is neither null nor INVALID_HANDLE_VALUE; argv is the C
// runtime's split with argv[0]; an unpaired surrogate is written as U+FFFD.
//
// Configuration: an optional file named `<full path of this exe>.probe`, UTF-8 `key=value` lines:
//   log=<path>         append the record to this file; without it the record goes to standard output
//   exit_codes=<list>  comma-separated exit codes, signed decimal or 0x hex, one per run, the last
//                      one repeating; the run number n is 1 + the lines already in the log (1 without)
//   sleep_ms=<ms>      stay alive this long after writing the record
//   write_file=<path>  then create this file holding the run number (ASCII digits)
// Without exit_codes, a first argument pair `--exit <code>` gives the exit code; otherwise it is 0.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "clock.h"
#include "files.h"
#include "own_program.h"
#include "text_forms.h"

namespace {

using support::to_utf8;

std::uint32_t parse_code(std::string text) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) {
        text.erase(0, 1);
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned long long value = std::strtoull(text.c_str() + (hex ? 2 : 0), nullptr, hex ? 16 : 10);
    return static_cast<std::uint32_t>(negative ? 0 - value : value);
}

struct Config {
    std::wstring log;
    std::vector<std::uint32_t> exit_codes;
    DWORD sleep_ms = 0;
    std::wstring write_file;
};

Config read_config(const std::wstring& path) {
    Config config;
    const std::string text = support::read_bytes(path);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "log") {
            config.log = support::from_utf8(value);
        } else if (key == "exit_codes") {
            for (std::size_t from = 0; from <= value.size();) {
                std::size_t comma = value.find(',', from);
                if (comma == std::string::npos) {
                    comma = value.size();
                }
                config.exit_codes.push_back(parse_code(value.substr(from, comma - from)));
                from = comma + 1;
            }
        } else if (key == "sleep_ms") {
            config.sleep_ms = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (key == "write_file") {
            config.write_file = support::from_utf8(value);
        }
    }
    return config;
}

char std_flag(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return (handle != nullptr && handle != INVALID_HANDLE_VALUE) ? '1' : '0';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const Config config = read_config(support::own_path() + L".probe");

    unsigned run = 1;
    if (!config.log.empty()) {
        const std::string existing_log = support::read_bytes(config.log);
        run += static_cast<unsigned>(std::count(existing_log.begin(), existing_log.end(), '\n'));
    }

    std::wstring joined_argv;
    for (int i = 0; i < argc; ++i) {
        joined_argv += (i > 0 ? L"\x1F" : L"");
        joined_argv += argv[i];
    }
    const std::string record = "run " + std::to_string(run) + "\t" + std::to_string(support::epoch_ms()) + "\t" +
                               to_utf8(GetCommandLineW()) + "\t" + to_utf8(support::current_directory()) + "\tstd=" +
                               std_flag(STD_INPUT_HANDLE) + std_flag(STD_OUTPUT_HANDLE) + std_flag(STD_ERROR_HANDLE) +
                               "\t" + to_utf8(joined_argv) + "\n";
    if (config.log.empty()) {
        (void)support::write_bytes(GetStdHandle(STD_OUTPUT_HANDLE), record);
    } else {
        const HANDLE log = CreateFileW(config.log.c_str(), FILE_APPEND_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (log != INVALID_HANDLE_VALUE) {
            (void)support::write_bytes(log, record);
            CloseHandle(log);
        }
    }

    if (config.sleep_ms > 0) {
        Sleep(config.sleep_ms);
    }
    if (!config.write_file.empty()) {
        const HANDLE file = CreateFileW(config.write_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            (void)support::write_bytes(file, std::to_string(run));
            CloseHandle(file);
        }
    }

    std::uint32_t exit_code = 0;
    if (!config.exit_codes.empty()) {
        exit_code = config.exit_codes[std::min<std::size_t>(run, config.exit_codes.size()) - 1];
    } else if (argc >= 3 && std::wstring(argv[1]) == L"--exit") {
        exit_code = parse_code(to_utf8(argv[2]));
    }
    ExitProcess(exit_code);
}
