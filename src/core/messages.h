#pragma once
// Every text the helper shows or writes, and how inserted values are put into them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/options.h"

namespace vellomar {

inline constexpr std::u16string_view caption = u"Vellomar更新";

std::u16string option_error_message(OptionError error);

std::u16string installer_missing_message(std::u16string_view installer_path);
inline constexpr std::u16string_view installer_open_failed_message = u"无法启动安装程序";
std::u16string launch_missing_message(std::u16string_view launch_path);
std::u16string relaunch_failed_message(std::u16string_view launch_error_text);

inline constexpr std::u16string_view invalid_install_dir_message = u"安装目录无效";
std::u16string installer_start_failed_message(std::u16string_view launch_error_text);
std::u16string installer_exit_code_message(std::int32_t exit_code);

// The debug rendering of an optional text: None, or Some("...") with escapes.
std::u16string debug_render(const std::optional<std::u16string>& text);

// "silent install failed: <debug rendering>\n".
std::u16string silent_install_failure_line(const std::optional<std::u16string>& last_message);

}  // namespace vellomar
