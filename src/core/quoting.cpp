#include "core/quoting.h"

#include "core/paths.h"
#include "core/text.h"

namespace vellomar {

namespace {

// Characters a batch-script argument may hold without being quoted: cmd.exe gives every other ASCII
// character (and the C1 controls) a meaning or splits at it.
bool needs_script_quoting(char16_t unit) {
    if (unit >= 0x80) {
        return unit <= 0x9F;
    }
    if ((unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') || (unit >= u'0' && unit <= u'9')) {
        return false;
    }
    return std::u16string_view(u"#$*+-./:?@\\_").find(unit) == std::u16string_view::npos;
}

// Who reads the argument back: the C runtime's splitter, or cmd.exe on its way to a batch script.
enum class ArgumentReader { runtime, batch_script };

// Appends an argument's text, in quotes when `quoted`. The escaping rules of both readers, here only:
// - a run of backslashes is doubled before a `"` and, inside quotes, at the end, so that neither
//   the escape nor the closing quote is taken for a backslash; elsewhere backslashes stay single;
// - a `"` is kept from closing the quotes as `\"` for the runtime and as `""` for cmd.exe;
// - for cmd.exe `%` becomes `%%cd:~,%`, which it expands back to `%` without expanding a variable.
// Examples: for the runtime `a\"b` -> `a\\\"b` and `x y\` -> `"x y\\"`; for cmd.exe `x"y` -> `"x""y"`
// and `50%` -> `"50%%cd:~,%"`.
void append_quoted(std::u16string& command_line, std::u16string_view text, bool quoted, ArgumentReader reader) {
    if (quoted) {
        command_line += u'"';
    }
    std::size_t backslashes = 0;
    for (const char16_t unit : text) {
        if (unit == u'\\') {
            ++backslashes;
        } else {
            if (unit == u'"') {
                command_line.append(backslashes, u'\\');
                command_line += reader == ArgumentReader::runtime ? u'\\' : u'"';
            } else if (unit == u'%' && reader == ArgumentReader::batch_script) {
                command_line += u"%%cd:~,";
            }
            backslashes = 0;
        }
        command_line += unit;
    }
    if (quoted) {
        command_line.append(backslashes, u'\\');
        command_line += u'"';
    }
}

// One ordinary batch-script argument: CR or LF cannot be passed through cmd.exe at all, a NUL never.
// It is quoted when empty, ending in `\`, or holding a character outside the safe set.
std::optional<QuotingError> append_script_argument(std::u16string& command_line, std::u16string_view text) {
    if (text.find_first_of(u"\r\n") != std::u16string_view::npos) {
        return QuotingError{batch_arguments_message};
    }
    if (contains_nul(text)) {
        return QuotingError{nul_in_data_message};
    }
    bool quoted = text.empty() || text.back() == u'\\';
    for (const char16_t unit : text) {
        quoted = quoted || needs_script_quoting(unit);
    }
    append_quoted(command_line, text, quoted, ArgumentReader::batch_script);
    return std::nullopt;
}

}  // namespace

// One argument, the inverse of the C runtime's splitting: a verbatim entry is copied unchanged (only
// a NUL is refused); an ordinary one is quoted when empty or holding a space or TAB, and nothing
// else causes quoting: `a b` -> `"a b"`, `a"b` -> `a\"b`.
std::optional<QuotingError> append_argument(std::u16string& command_line, const ArgumentEntry& argument) {
    const std::u16string_view text = argument.text;
    if (contains_nul(text)) {
        return QuotingError{nul_in_data_message};
    }
    if (argument.verbatim) {
        command_line += text;
        return std::nullopt;
    }
    const bool quoted = text.empty() || text.find_first_of(u" \t") != std::u16string_view::npos;
    append_quoted(command_line, text, quoted, ArgumentReader::runtime);
    return std::nullopt;
}

std::variant<std::u16string, QuotingError> build_command_line(std::u16string_view program,
                                                             const std::vector<ArgumentEntry>& arguments) {
    std::u16string command_line = u"\"";
    command_line += program;
    command_line += u'"';
    for (const ArgumentEntry& argument : arguments) {
        command_line += u' ';
        if (auto error = append_argument(command_line, argument)) {
            return *error;
        }
    }
    return command_line;
}

// Characters cmd.exe acts on where a verbatim entry stands unquoted in the line: command
// separators, redirections, its escape, variable expansion, quoting and line ends. Copied as they
// are, `C:\R&D` would run `D` as a command and cut the argument short.
constexpr std::u16string_view cmd_special_characters = u"&|<>^%\"\r\n";

// cmd.exe strips the outer quotes of a /c command that starts with a quote, so the whole command is
// wrapped once more: `cmd.exe /e:ON /v:OFF /d /c ""C:\Tools\run.bat" /S "a b""`. Delayed expansion is
// off so that `!` stays literal. Verbatim entries and the script path cannot be escaped for cmd.exe
// without changing what the script receives, so any character it would act on is refused instead;
// `%` is expanded even inside the quoted path.
std::variant<std::u16string, QuotingError> build_script_command_line(std::u16string_view script_path,
                                                                    const std::vector<ArgumentEntry>& arguments) {
    if (script_path.find(u'"') != std::u16string_view::npos || (!script_path.empty() && script_path.back() == u'\\')) {
        return QuotingError{batch_path_message};
    }
    if (script_path.find(u'%') != std::u16string_view::npos) {
        return QuotingError{batch_arguments_message};
    }
    std::u16string command_line = u"cmd.exe /e:ON /v:OFF /d /c \"\"";
    command_line += script_path;
    command_line += u'"';
    for (const ArgumentEntry& argument : arguments) {
        command_line += u' ';
        if (argument.verbatim) {
            if (auto error = append_argument(command_line, argument)) {
                return *error;
            }
            if (argument.text.find_first_of(cmd_special_characters) != std::u16string::npos) {
                return QuotingError{batch_arguments_message};
            }
        } else if (auto error = append_script_argument(command_line, argument.text)) {
            return *error;
        }
    }
    command_line += u'"';
    return command_line;
}

bool has_batch_extension(std::u16string_view path) {
    return ends_with_ignoring_case(path, u".bat") || ends_with_ignoring_case(path, u".cmd");
}

}  // namespace vellomar
