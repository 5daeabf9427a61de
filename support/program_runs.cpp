#include "program_runs.h"

#include <set>

namespace support {

const wchar_t* const helper_caption = L"Vellomar\u66f4\u65b0";

std::wstring helper_path() { return own_directory() + L"vellomar-update.exe"; }

namespace {

// Counts strongly red pixels in the icon's screen rectangle: the error icon is a red disc, the
// other standard icons are yellow or blue.
bool shows_error_icon(HWND box) {
    HWND icon = GetDlgItem(box, 0x14);
    if (icon == nullptr) icon = GetDlgItem(box, 0x440);
    if (icon == nullptr) return false;
    RECT rect{};
    GetWindowRect(icon, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    int red = 0;
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    for (int i = 0; pixels != nullptr && i < width * height; ++i) {
        const std::uint8_t b = pixels[4 * i], g = pixels[4 * i + 1], r = pixels[4 * i + 2];
        if (r > 160 && g < 100 && b < 100) ++red;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return red > 50;
}

MessageBoxRecord read_box(HWND box) {
    MessageBoxRecord record;
    wchar_t buffer[4096];
    const int caption_length = GetWindowTextW(box, buffer, 4096);
    record.caption.assign(buffer, static_cast<size_t>(caption_length > 0 ? caption_length : 0));
    const UINT text_length = GetDlgItemTextW(box, 0xFFFF, buffer, 4096);
    record.text.assign(buffer, text_length);
    record.error_icon = shows_error_icon(box);
    return record;
}

}  // namespace

// The watcher's thread: sweeps the top-level boxes every 20 ms until asked to stop, then once more,
// which catches a box that appeared just before the request.
DWORD WINAPI BoxWatch::run(void* parameter) {
    auto* watch = static_cast<BoxWatch*>(parameter);
    std::set<HWND> seen;
    for (bool last = false; !last;) {
        last = watch->stop_requested_.load();
        for (HWND box = FindWindowExW(nullptr, nullptr, L"#32770", watch->caption_.c_str()); box != nullptr;
             box = FindWindowExW(nullptr, box, L"#32770", watch->caption_.c_str())) {
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            if ((watch->pid_ != 0 && owner != watch->pid_) || seen.count(box) != 0) continue;
            if (!IsWindowVisible(box)) continue;
            const std::uint64_t seen_ms = epoch_ms();
            Sleep(150);  // let the box paint before its icon is read
            seen.insert(box);
            MessageBoxRecord record = read_box(box);
            record.seen_ms = seen_ms;
            AcquireSRWLockExclusive(&watch->lock_);
            watch->records_.push_back(std::move(record));
            ReleaseSRWLockExclusive(&watch->lock_);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        if (!last) Sleep(20);
    }
    return 0;
}

BoxWatch::BoxWatch(DWORD pid, std::wstring caption) : pid_(pid), caption_(std::move(caption)) {
    thread_ = vellomar::UniqueHandle(CreateThread(nullptr, 0, &BoxWatch::run, this, 0, nullptr));
}

BoxWatch::~BoxWatch() { (void)stop(); }

std::vector<MessageBoxRecord> BoxWatch::take() {
    AcquireSRWLockExclusive(&lock_);
    std::vector<MessageBoxRecord> records = std::move(records_);
    records_.clear();
    ReleaseSRWLockExclusive(&lock_);
    return records;
}

std::vector<MessageBoxRecord> BoxWatch::stop() {
    stop_requested_ = true;
    if (thread_.valid()) WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    return take();
}

RunResult run_exact(const std::wstring& application, const std::wstring& command_line, const RunOptions& options) {
    using vellomar::UniqueHandle;
    RunResult result;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE read_handle = nullptr;
    HANDLE write_handle = nullptr;
    (void)CreatePipe(&read_handle, &write_handle, &inheritable, 1 << 20);
    const UniqueHandle read_end(read_handle);
    UniqueHandle write_end(write_handle);
    (void)SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueHandle null_device(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inheritable, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    if (options.give_standard_error) {
        startup.hStdInput = null_device.get();
        startup.hStdOutput = null_device.get();
        startup.hStdError = write_end.get();
    }
    PROCESS_INFORMATION created{};
    std::wstring buffer = command_line;
    buffer.push_back(L'\0');
    const std::uint64_t start = epoch_ms();
    const BOOL started = CreateProcessW(application.c_str(), buffer.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT, nullptr,
                                        options.current_directory.empty() ? nullptr : options.current_directory.c_str(),
                                        &startup, &created);
    result.start_error = started ? 0 : GetLastError();
    write_end.reset();
    null_device.reset();
    if (!started) return result;
    const UniqueHandle process(created.hProcess);
    const UniqueHandle thread(created.hThread);
    result.started = true;
    BoxWatch watch(created.dwProcessId, helper_caption);
    if (WaitForSingleObject(process.get(), options.timeout_ms) != WAIT_OBJECT_0) {
        result.timed_out = true;
        (void)TerminateProcess(process.get(), 0xDEAD);
        (void)WaitForSingleObject(process.get(), INFINITE);
    }
    result.elapsed_ms = epoch_ms() - start;
    result.boxes = watch.stop();
    (void)GetExitCodeProcess(process.get(), &result.exit_code);
    // Children of the helper may still hold the write end, so read what is there instead of
    // waiting for end-of-file.
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr) || available == 0) break;
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (!ReadFile(read_end.get(), chunk.data(), available, &read, nullptr)) break;
        result.standard_error.append(chunk.data(), read);
    }
    return result;
}

RunResult run_helper(const std::wstring& tail, const RunOptions& options) {
    return run_exact(helper_path(), in_quotes(helper_path()) + tail, options);
}

}  // namespace support
