#pragma once
// The pending-update record the application keeps in its own state directory between the start of
// an update and its next start. The helper never sees it. Its format is in record_format.h.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "record_format.h"

namespace vellomar {

// `state_dir` + `vellomar-update.pending`.
std::u16string record_path(std::u16string_view state_dir);

// Written to a temporary file first and then renamed over the record, so a reader sees the old
// record or the new one, never a mix. 0 or the Win32 error.
[[nodiscard]] std::uint32_t write_record(std::u16string_view state_dir, const PendingUpdate& update);

struct RecordRead {
    bool present = false;                // a file is there, readable or not
    std::optional<PendingUpdate> update; // nothing when absent, unreadable or torn
};
// Reads the record file at `path` (the record, or a claimed one).
RecordRead read_record(std::u16string_view path);

// Renames the record to a name of this process's own, so that of two readers one judges it and the
// other finds none; the claimed file's path, or nothing when there was no record to claim.
std::optional<std::u16string> claim_record(std::u16string_view state_dir);

// Puts a claimed record back, unless a newer record has taken its place meanwhile.
void return_claim(const std::u16string& claimed, std::u16string_view state_dir);

// Deletes the file; a missing one is no error.
void remove_file(std::u16string_view path);

}  // namespace vellomar
