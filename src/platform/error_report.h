#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellomar {

// The modal error box with the helper's caption; returns when it is dismissed.
void show_error(std::u16string_view text);

[[noreturn]] void exit_process(std::uint32_t code);

// Writes "silent install failed: ..." to standard error when there is one.
void report_silent_install_failure(const std::optional<std::u16string>& last_message);

}  // namespace vellomar
