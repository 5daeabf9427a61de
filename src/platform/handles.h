#pragma once
// Move-only owners for the kernel objects the helper opens. Closing keeps the thread's last
// error intact, so that an owner going out of scope never changes what a caller reads.
#include "platform/win32.h"

#include <utility>

namespace vellomar {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    // Both NULL and INVALID_HANDLE_VALUE mean "nothing owned": Win32 uses either for failure.
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    // Hands the handle to a new owner.
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset() {
        if (valid()) {
            const DWORD saved = GetLastError();
            (void)CloseHandle(handle_);
            SetLastError(saved);
        }
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

class UniqueFind {
public:
    explicit UniqueFind(HANDLE handle) : handle_(handle) {}
    UniqueFind(const UniqueFind&) = delete;
    UniqueFind& operator=(const UniqueFind&) = delete;
    ~UniqueFind() {
        if (valid()) {
            const DWORD saved = GetLastError();
            (void)FindClose(handle_);
            SetLastError(saved);
        }
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

private:
    HANDLE handle_;
};

class UniqueKey {
public:
    UniqueKey() = default;
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    ~UniqueKey() {
        if (key_ != nullptr) {
            const DWORD saved = GetLastError();
            (void)RegCloseKey(key_);
            SetLastError(saved);
        }
    }
    HKEY get() const { return key_; }
    // For RegOpenKeyExW's out parameter; only called on an empty owner.
    HKEY* receive() { return &key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace vellomar
