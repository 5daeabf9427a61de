#include "probes.h"

#include <cstdlib>

#include "files.h"

namespace support {

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

bool place_probe(const std::wstring& path, const std::wstring& log, const std::wstring& exit_codes, DWORD sleep_ms,
                 const std::wstring& write_file) {
    std::wstring text;
    if (!log.empty()) text += L"log=" + log + L"\n";
    if (!exit_codes.empty()) text += L"exit_codes=" + exit_codes + L"\n";
    if (sleep_ms != 0) text += L"sleep_ms=" + std::to_wstring(sleep_ms) + L"\n";
    if (!write_file.empty()) text += L"write_file=" + write_file + L"\n";
    return CopyFileW((own_directory() + L"child_probe.exe").c_str(), path.c_str(), FALSE) &&
           write_utf8(path + L".probe", text);
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

std::vector<ProbeRecord> wait_for_probe_records(const std::wstring& path, std::size_t count) {
    std::vector<ProbeRecord> records;
    (void)poll_until([&] { return (records = read_probe_log(path)).size() >= count; }, 20000);
    return records;
}

}  // namespace support
