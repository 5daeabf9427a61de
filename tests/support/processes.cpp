#include "processes.h"

#include <cstdlib>

#include "files.h"
#include "probe_support.h"

namespace probe {

namespace {

std::optional<ProbeRecord> parse_probe_record(std::string_view line) {
    const std::size_t run_end = line.find('\t');
    const std::size_t time_end = line.find('\t', run_end + 1);
    const std::size_t std_start = line.find("\tstd=", time_end);
    if (line.rfind("run ", 0) != 0 || run_end == std::string_view::npos || time_end == std::string_view::npos ||
        std_start == std::string_view::npos || line.size() < std_start + 9) {
        return std::nullopt;
    }
    const std::size_t directory_start = line.rfind('\t', std_start - 1);
    ProbeRecord record;
    record.time_ms = std::strtoull(std::string(line.substr(run_end + 1, time_end - run_end - 1)).c_str(), nullptr, 10);
    record.command_line = from_utf8(line.substr(time_end + 1, directory_start - time_end - 1));
    record.directory = from_utf8(line.substr(directory_start + 1, std_start - directory_start - 1));
    record.std_flags = std::string(line.substr(std_start + 5, 3));
    const std::wstring argv = from_utf8(line.substr(std_start + 9));
    for (std::size_t start = 0;;) {
        const std::size_t separator = argv.find(L'\x1F', start);
        record.argv.push_back(argv.substr(start, separator - start));
        if (separator == std::wstring::npos) break;
        start = separator + 1;
    }
    return record;
}

}  // namespace

std::wstring helper_path() { return own_directory() + L"vellomar-update.exe"; }

std::uint64_t epoch_ms() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks / 10000 - 11644473600000ull;
}

bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool poll_until(const std::function<bool()>& done, std::uint32_t limit_ms) {
    const std::uint64_t deadline = now_ms() + limit_ms;
    for (;;) {
        if (done()) return true;
        if (now_ms() >= deadline) return false;
        Sleep(20);
    }
}

StartedProcess start_process(const std::wstring& application, std::wstring command_line, DWORD flags,
                             const std::wstring& directory) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;  // all three null
    PROCESS_INFORMATION created{};
    command_line.push_back(L'\0');
    StartedProcess started;
    if (CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                       directory.empty() ? nullptr : directory.c_str(), &startup, &created)) {
        started.process = vellomar::UniqueHandle(created.hProcess);
        started.thread = vellomar::UniqueHandle(created.hThread);
        started.id = created.dwProcessId;
    }
    return started;
}

ExitedProcess exited_process() {
    const std::wstring program = own_directory() + L"child_probe.exe";
    StartedProcess started = start_process(program, L"\"" + program + L"\" --exit 0");
    ExitedProcess exited;
    if (started.process.valid() && WaitForSingleObject(started.process.get(), 30000) == WAIT_OBJECT_0) {
        exited.process = std::move(started.process);
        exited.id = started.id;
    }
    return exited;
}

FileLock::FileLock(const std::wstring& path, DWORD hold_ms) : path_(path), started_ms_(epoch_ms()) {
    const std::wstring program = own_directory() + L"lock_probe.exe";
    process_ = start_process(program, L"\"" + program + L"\" \"" + path + L"\" " + std::to_wstring(hold_ms)).process;
}

bool FileLock::wait_until_taken() const {
    const auto taken = [&] {
        const vellomar::UniqueHandle file(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                      OPEN_EXISTING, 0, nullptr));
        return !file.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
    };
    return process_.valid() && poll_until(taken, 10000);
}

void FileLock::release() {
    if (process_.valid()) {
        (void)TerminateProcess(process_.get(), 0);
        (void)WaitForSingleObject(process_.get(), 10000);
    }
    process_.reset();
}

std::vector<ProbeRecord> read_probe_log(const std::wstring& path) {
    const std::string text = read_bytes(path);
    std::vector<ProbeRecord> records;
    for (std::size_t start = 0, end = 0; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        if (std::optional<ProbeRecord> record = parse_probe_record(std::string_view(text).substr(start, end - start))) {
            records.push_back(std::move(*record));
        }
    }
    return records;
}

}  // namespace probe
