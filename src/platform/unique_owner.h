#pragma once
// The one move-only owner of a system handle, parameterised by the function that closes it and
// the values that mean "nothing owned" (the first is what an empty owner holds). Standard types
// only, so that the sequence can hold the update lock without seeing a system header; the kinds
// of handle the platform code opens are named in platform/handles.h.
#include <cstdint>
#include <utility>

namespace vellomar {

template <typename Handle, void (*close)(Handle), std::intptr_t empty, std::intptr_t... also_invalid>
class UniqueOwner {
public:
    UniqueOwner() = default;
    explicit UniqueOwner(Handle handle) : handle_(handle) {}
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& other) noexcept : handle_(other.release()) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueOwner() { reset(); }

    bool valid() const {
        const auto value = reinterpret_cast<std::intptr_t>(handle_);
        return value != empty && ((value != also_invalid) && ...);
    }
    Handle get() const { return handle_; }
    // Gives the handle up unclosed, to a new owner; dropping the result would leak it.
    [[nodiscard]] Handle release() { return std::exchange(handle_, none()); }
    // Taking the handle already held must not close it under the owner.
    void reset(Handle handle = none()) {
        if (handle == handle_) {
            return;
        }
        if (valid()) {
            close(handle_);
        }
        handle_ = handle;
    }
    // For an out parameter (RegOpenKeyExW's): what was held is closed first, as it would be overwritten.
    Handle* receive() {
        reset();
        return &handle_;
    }

private:
    static Handle none() { return reinterpret_cast<Handle>(empty); }
    Handle handle_ = none();
};

}  // namespace vellomar
