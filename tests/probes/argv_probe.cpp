// argv_probe: reports how the C runtime splits command lines, as the oracle for split_command_line.
// Output records: a u32 argument count, then per argument a u32 length and its UTF-16 units (LE).
// - Without VELLOMAR_ARGV_PROBE_INPUT: two records for this process's own command line into the
//   file VELLOMAR_ARGV_PROBE_OUTPUT names: the argv wmain received (msvcrt), then ucrtbase's split.
// - With VELLOMAR_ARGV_PROBE_INPUT naming a file of command lines (u32 length, then the units): one
//   ucrtbase record per line. ucrtbase splits the command line once per load, so for each line the
//   process's own command-line buffer is overwritten and ucrtbase is loaded afresh; start the probe
//   with a command line at least as long as the longest line.
// Exit codes: 0 done, 3 missing variable or unreadable file, 4 ucrtbase unusable, 5 line too long.
#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/handles.h"

int wmain(int argc, wchar_t** argv);  // the entry point -municode links to

namespace {

using Record = std::vector<std::wstring>;

std::wstring environment_value(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

void append_u32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

void append_record(std::string& out, const Record& record) {
    append_u32(out, static_cast<std::uint32_t>(record.size()));
    for (const std::wstring& argument : record) {
        append_u32(out, static_cast<std::uint32_t>(argument.size()));
        for (const wchar_t unit : argument) {
            out += static_cast<char>(unit & 0xFF);
            out += static_cast<char>((unit >> 8) & 0xFF);
        }
    }
}

std::optional<std::string> read_file(const std::wstring& path) {
    const vellomar::UniqueHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size)) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
    const vellomar::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file.valid() && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::uint32_t byte_at(const std::string& bytes, size_t index) {
    return static_cast<unsigned char>(bytes[index]);
}

// Command lines of the input file; nothing when it is truncated.
std::optional<std::vector<std::wstring>> parse_lines(const std::string& bytes) {
    std::vector<std::wstring> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) {
            return std::nullopt;
        }
        const std::uint32_t length = byte_at(bytes, at) | byte_at(bytes, at + 1) << 8 | byte_at(bytes, at + 2) << 16 |
                                     byte_at(bytes, at + 3) << 24;
        at += 4;
        if ((bytes.size() - at) / 2 < length) {
            return std::nullopt;
        }
        std::wstring line(length, L'\0');
        for (std::uint32_t i = 0; i < length; ++i, at += 2) {
            line[i] = static_cast<wchar_t>(byte_at(bytes, at) | byte_at(bytes, at + 1) << 8);
        }
        lines.push_back(std::move(line));
    }
    return lines;
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
        const int count = *argc_location();
        wchar_t** const arguments = *wargv_location();
        record = Record(arguments, arguments + count);
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
    append_record(bytes, Record(argv, argv + argc));
    append_record(bytes, *ucrt);
    return !output.empty() && write_file(output, bytes) ? 0 : 3;
}

int report_batch(const std::wstring& input) {
    const std::wstring output = environment_value(L"VELLOMAR_ARGV_PROBE_OUTPUT");
    const std::optional<std::string> bytes = read_file(input);
    const std::optional<std::vector<std::wstring>> lines = bytes ? parse_lines(*bytes) : std::nullopt;
    if (output.empty() || !lines) {
        return 3;
    }
    wchar_t* const own_command_line = GetCommandLineW();
    const size_t capacity = std::wcslen(own_command_line);
    std::string records;
    for (const std::wstring& line : *lines) {
        if (line.size() > capacity) {
            return 5;
        }
        std::wmemcpy(own_command_line, line.c_str(), line.size() + 1);
        const std::optional<Record> record = ucrt_split();
        if (!record) {
            return 4;
        }
        append_record(records, *record);
    }
    return write_file(output, records) ? 0 : 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring input = environment_value(L"VELLOMAR_ARGV_PROBE_INPUT");
    return input.empty() ? report_own_command_line(argc, argv) : report_batch(input);
}
