#pragma once
// The pending-update record the application keeps in its own state directory between the start of
// an update and its next start. The helper never sees it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellomar {

struct PendingUpdate {
    std::u16string version;      // the target, as the application gave it (may be empty)
    std::u16string package;
    std::u16string helper_copy;  // the copy of the helper that was started
    std::uint32_t application_pid = 0;
};

// `state_dir` + `vellomar-update.pending`.
std::u16string record_path(std::u16string_view state_dir);

// Written to a temporary file first and then renamed over the record, so a reader sees the old
// record or the new one, never a mix. 0 or the Win32 error.
[[nodiscard]] std::uint32_t write_record(std::u16string_view state_dir, const PendingUpdate& update);

struct RecordRead {
    bool present = false;                // a file is there, readable or not
    std::optional<PendingUpdate> update; // nothing when absent, unreadable or torn
};
RecordRead read_record(std::u16string_view state_dir);

// Deletes the record; a missing one is no error.
void remove_record(std::u16string_view state_dir);

}  // namespace vellomar
