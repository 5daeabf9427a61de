#include "core/messages.h"

#include <cstddef>

#include "core/text.h"
#include "core/unicode_tables.h"

namespace vellomar {
namespace {

// Message texts take an inserted path or error text after an ASCII colon and space.
std::u16string with_inserted_text(std::u16string_view message, std::u16string_view inserted) {
    return std::u16string(message) + u": " + to_display_text(inserted);
}

void append_unicode_escape(std::u16string& out, char32_t code_point) {
    constexpr char16_t hex_digits[] = u"0123456789abcdef";
    std::u16string digits;
    do {
        digits.insert(digits.begin(), hex_digits[code_point % 16]);
        code_point /= 16;
    } while (code_point != 0);
    out += u"\\u{" + digits + u"}";
}

void append_escaped(std::u16string& out, char32_t code_point) {
    switch (code_point) {
    case U'\\': out += u"\\\\"; return;
    case U'"': out += u"\\\""; return;
    case U'\0': out += u"\\0"; return;
    case U'\t': out += u"\\t"; return;
    case U'\n': out += u"\\n"; return;
    case U'\r': out += u"\\r"; return;
    default: break;
    }
    if (is_printable(code_point) && !is_grapheme_extend(code_point)) {
        append_utf16(out, code_point);
    } else {
        append_unicode_escape(out, code_point);
    }
}

}  // namespace

std::u16string option_error_message(OptionError error) {
    switch (error) {
    case OptionError::missing_pid: return u"更新助手参数无效（缺少进程号）";
    case OptionError::invalid_pid: return u"更新助手参数无效（进程号）";
    case OptionError::missing_installer: return u"更新助手参数无效（缺少安装包）";
    }
    return {};
}

std::u16string installer_missing_message(std::u16string_view installer_path) {
    return with_inserted_text(u"安装包不存在", installer_path);
}

std::u16string launch_missing_message(std::u16string_view launch_path) {
    return with_inserted_text(u"未找到程序", launch_path);
}

std::u16string relaunch_failed_message(std::u16string_view launch_error_text) {
    return with_inserted_text(u"无法启动新版本", launch_error_text);
}

std::u16string installer_start_failed_message(std::u16string_view launch_error_text) {
    return with_inserted_text(u"启动安装程序失败", launch_error_text);
}

std::u16string installer_exit_code_message(std::int32_t exit_code) {
    return u"安装程序退出码 " + decimal(exit_code);
}

// None, or Some("...") where `\` `"` NUL tab LF CR take backslash escapes, the single quote
// stays as it is, and any character that is not printable or is Grapheme_Extend becomes
// \u{hex} in lowercase without leading zeros: Some("a\"b\u{301}").
std::u16string debug_render(const std::optional<std::u16string>& text) {
    if (!text) {
        return u"None";
    }
    std::u16string out = u"Some(\"";
    for (std::size_t i = 0; i < text->size();) {
        const CodePoint code_point = code_point_at(*text, i);
        append_escaped(out, code_point.value);
        i += code_point.length;
    }
    out += u"\")";
    return out;
}

std::u16string silent_install_failure_line(const std::optional<std::u16string>& last_message) {
    return u"silent install failed: " + debug_render(last_message) + u"\n";
}

}  // namespace vellomar
