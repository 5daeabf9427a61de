#include "platform/error_report.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/text.h"
#include "platform/win32.h"

// Declared by the driver kit rather than the SDK headers; exported by ntdll on every version.
extern "C" NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
                                      PIO_STATUS_BLOCK io_status, PVOID buffer, ULONG length,
                                      PLARGE_INTEGER byte_offset, PULONG key);

namespace vellomar {
namespace {

constexpr NTSTATUS status_pending = 0x00000103;

// A console with a legacy code page would show UTF-8 bytes as mojibake, so it gets UTF-16. A write
// that fails ends the line: nobody is left to tell.
void write_console(HANDLE console, const std::u16string& text) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 8192));
        if (!WriteConsoleW(console, as_wcstr(text) + done, chunk, &written, nullptr) || written == 0) {
            return;
        }
        done += written;
    }
}

// NtWriteFile rather than WriteFile: it copes with a handle opened for overlapped I/O as well.
void write_bytes(HANDLE file, const std::vector<char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        IO_STATUS_BLOCK io_status{};
        const ULONG chunk = static_cast<ULONG>(std::min<size_t>(bytes.size() - done, 1u << 20));
        NTSTATUS status = NtWriteFile(file, nullptr, nullptr, nullptr, &io_status,
                                      const_cast<char*>(bytes.data() + done), chunk, nullptr, nullptr);
        if (status == status_pending) {
            (void)WaitForSingleObject(file, INFINITE);
            status = io_status.Status;
        }
        // Any failure ends the line: an invalid handle is the expected case of a GUI process
        // without streams, and a pipe whose reader left cannot take the rest either.
        if (!NT_SUCCESS(status) || io_status.Information == 0) {
            return;
        }
        done += io_status.Information;
    }
}

}  // namespace

void show_error(std::u16string_view text) {
    const std::u16string message(text);
    const std::u16string title(caption);
    (void)MessageBoxW(nullptr, as_wcstr(message), as_wcstr(title), MB_ICONERROR);
}

void exit_process(std::uint32_t code) {
    ExitProcess(code);
}

void report_silent_install_failure(const std::optional<std::u16string>& last_message) {
    const HANDLE standard_error = GetStdHandle(STD_ERROR_HANDLE);
    if (standard_error == nullptr || standard_error == INVALID_HANDLE_VALUE) return;
    const std::u16string line = silent_install_failure_line(last_message);
    DWORD mode = 0;
    if (GetConsoleMode(standard_error, &mode) && GetConsoleOutputCP() != CP_UTF8) {
        write_console(standard_error, line);
        return;
    }
    write_bytes(standard_error, to_utf8(line));
}

}  // namespace vellomar
