#pragma once
// The file and process steps of a handover, on standard types.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace vellomar {

// Copies the helper into `directory` under a name of its own and returns the copy's path, or the
// Win32 error. See copy_helper in file_steps.cpp for the names.
[[nodiscard]] std::variant<std::u16string, std::uint32_t> copy_helper(std::u16string_view helper,
                                                                     std::u16string_view package,
                                                                     std::u16string_view directory);

// Deletes the file unless some process has it open or runs it; true when it is gone.
bool delete_if_unused(std::u16string_view path);

// Both paths name the same existing file (same volume and file index).
bool same_file(std::u16string_view first, std::u16string_view second);

// A new file can be created in `directory` by this process.
bool can_create_file_in(std::u16string_view directory);

}  // namespace vellomar
