#pragma once
// A system call's result, or the error code it failed with. Standard types only.
#include <cstdint>

namespace vellomar {

// The error is read right after the failing call.
template <typename T>
struct OsResult {
    T value{};
    std::uint32_t error = 0;  // ERROR_SUCCESS
    bool ok() const { return error == 0; }
};

}  // namespace vellomar
