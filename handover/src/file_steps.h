#pragma once
// The file and process steps of a handover, on standard types; errors are Win32 codes.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os_result.h"
#include "record_format.h"

namespace vellomar {

// Copies the helper into `state_dir` under the first of its copy names (record_format.h) that no
// running copy holds, writable, and returns the copy's path.
[[nodiscard]] OsResult<std::u16string> copy_helper(std::u16string_view helper, std::u16string_view package,
                                                   std::u16string_view state_dir);

// Deletes every copy in `state_dir` that nothing runs or holds open; the package is never one.
void sweep_copies(std::u16string_view state_dir, std::u16string_view package);

// Deletes the file unless some process has it open or runs it; true when it is gone.
bool delete_if_unused(std::u16string_view path);

// The file's stamp; all zero when it is missing or cannot be read.
FileStamp file_stamp(std::u16string_view path);

// A new file can be created in `directory` by this process.
bool can_create_file_in(std::u16string_view directory);

}  // namespace vellomar
