#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "core/messages.h"

namespace vellomar {

// The modal error box with the helper's caption; returns when it is dismissed.
void show_error(std::u16string_view text);

[[noreturn]] void exit_process(ExitCode code);

// show_error, then the end of the process with `code`.
[[noreturn]] void fail(std::u16string_view text, ExitCode code);

// Writes "silent install failed: ..." to standard error when there is one.
void report_silent_install_failure(const std::optional<std::u16string>& last_message);

}  // namespace vellomar
