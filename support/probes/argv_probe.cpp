// argv_probe: reports how the C runtime splits command lines, as the oracle for split_command_line.
// Output records: lists of strings as files.h's append_list writes them.
// - Without VELLOMAR_ARGV_PROBE_INPUT: two records for this process's own command line into the
//   file VELLOMAR_ARGV_PROBE_OUTPUT names: the argv wmain received (msvcrt), then ucrtbase's split.
// - With VELLOMAR_ARGV_PROBE_INPUT naming a file that holds one list of command lines: one ucrtbase
//   record per line. ucrtbase splits the command line once per load, so for each line the
//   process's own command-line buffer is overwritten and ucrtbase is loaded afresh; start the probe
//   with a command line at least as long as the longest line.
// Exit codes: 0 done, 3 missing variable or unreadable file, 4 ucrtbase unusable, 5 line too long.
#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files.h"
#include "own_program.h"
#include "text_forms.h"

namespace {

using Record = std::vector<std::u16string>;

Record record_of(int count, wchar_t** arguments) {
    Record record;
    for (int i = 0; i < count; ++i) record.push_back(support::u16(arguments[i]));
    return record;
}

std::wstring environment_value(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

using ConfigureWideArgv = int(__cdecl*)(int);
using ArgcLocation = int*(__cdecl*)();
using WargvLocation = wchar_t***(__cdecl*)();

template <typename Function>
Function find_function(HMODULE module, const char* name) {
    // Through the generic function pointer type, which GCC accepts without a cast warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// ucrtbase's split of the current command line. Nothing when ucrtbase cannot be used or is
// already loaded by someone else, since it would then hand back a stale split.
std::optional<Record> ucrt_split() {
    if (GetModuleHandleW(L"ucrtbase.dll") != nullptr) {
        return std::nullopt;
    }
    const HMODULE ucrt = LoadLibraryW(L"ucrtbase.dll");
    if (ucrt == nullptr) {
        return std::nullopt;
    }
    const auto configure = find_function<ConfigureWideArgv>(ucrt, "_configure_wide_argv");
    const auto argc_location = find_function<ArgcLocation>(ucrt, "__p___argc");
    const auto wargv_location = find_function<WargvLocation>(ucrt, "__p___wargv");
    constexpr int unexpanded_arguments = 1;  // _crt_argv_unexpanded_arguments: no wildcard expansion
    std::optional<Record> record;
    if (configure != nullptr && argc_location != nullptr && wargv_location != nullptr &&
        configure(unexpanded_arguments) == 0) {
        record = record_of(*argc_location(), *wargv_location());
    }
    FreeLibrary(ucrt);
    return record;
}

int report_own_command_line(int argc, wchar_t** argv) {
    const std::wstring output = environment_value(L"VELLOMAR_ARGV_PROBE_OUTPUT");
    const std::optional<Record> ucrt = ucrt_split();
    if (!ucrt) {
        return 4;
    }
    std::string bytes;
    support::append_list(bytes, record_of(argc, argv));
    support::append_list(bytes, *ucrt);
    return !output.empty() && support::write_bytes(output, bytes) ? 0 : 3;
}

int report_batch(const std::wstring& input) {
    const std::wstring output = environment_value(L"VELLOMAR_ARGV_PROBE_OUTPUT");
    const std::vector<Record> input_lists = support::read_lists(support::read_bytes(input));
    if (output.empty() || input_lists.size() != 1) {
        return 3;
    }
    wchar_t* const own_command_line = GetCommandLineW();
    const size_t capacity = std::wcslen(own_command_line);
    std::string records;
    for (const std::u16string& line : input_lists[0]) {
        if (line.size() > capacity) {
            return 5;
        }
        std::wmemcpy(own_command_line, support::wide(line).c_str(), line.size() + 1);
        const std::optional<Record> record = ucrt_split();
        if (!record) {
            return 4;
        }
        support::append_list(records, *record);
    }
    return support::write_bytes(output, records) ? 0 : 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring input = environment_value(L"VELLOMAR_ARGV_PROBE_INPUT");
    return input.empty() ? report_own_command_line(argc, argv) : report_batch(input);
}
