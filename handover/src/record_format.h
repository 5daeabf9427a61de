#pragma once
// The handover's pure parts: the pending-update record's encoding and the names of the helper's
// copies. Standard types only, so that they build and are tested natively as well.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellomar {

// What tells a file's content apart from a later one: the installer that replaces the launch file
// either rewrites it (a new last-write time) or creates it anew (a new file index). All zero for a
// file that was not there.
struct FileStamp {
    std::uint32_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t last_write = 0;  // FILETIME
    bool operator==(const FileStamp& other) const {
        return volume == other.volume && index == other.index && last_write == other.last_write;
    }
};

struct PendingUpdate {
    std::u16string version;      // the target, as the application gave it (may be empty)
    std::u16string package;
    std::u16string helper_copy;  // the copy of the helper that was started
    std::u16string launch_file;  // the launch file, or the application's own image without one
    std::uint32_t application_pid = 0;
    std::uint32_t helper_pid = 0;
    std::uint64_t helper_created = 0;  // FILETIME: a reused pid has another creation time
    FileStamp launch;                  // the launch file at the start
};

// UTF-16 fields, each followed by a NUL: the magic, version, package, copy, launch file, the numbers in
// decimal (64-bit ones as high and low halves), and `end`. No field can hold a NUL (they come from
// NUL-terminated strings), so any other shape is a torn record: a cut-off tail, another magic (an
// earlier format), a relative path, a number that does not fit.
std::u16string encode_record(const PendingUpdate& update);
std::optional<PendingUpdate> decode_record(std::u16string_view text);

// The copies' names for the helper `C:\App\vellomar-update.exe`: `vellomar-update.handover.exe`,
// then `vellomar-update.handover-2.exe` ... up to `copy_names`.
inline constexpr int copy_names = 16;
std::u16string copy_name(std::u16string_view helper, int number);
// `state_dir` + copy_name, or nothing when that is the package's path (compared ignoring ASCII
// case): a copy never overwrites the package. The helper's own path never has a copy's name.
std::optional<std::u16string> copy_path(std::u16string_view helper, std::u16string_view package,
                                        std::u16string_view state_dir, int number);
// The same path text, ignoring ASCII case.
bool same_path_text(std::u16string_view first, std::u16string_view second);
// A name the sweep may take for an earlier copy: `*.handover*.exe`, whatever the helper's name.
bool is_copy_name(std::u16string_view file_name);

}  // namespace vellomar
