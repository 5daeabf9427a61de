#include "core/command_line.h"

#include <cstddef>
#include <utility>

namespace vellomar {
namespace {

bool is_blank(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

std::size_t skip_blanks(std::u16string_view text, std::size_t index) {
    while (index < text.size() && is_blank(text[index])) {
        ++index;
    }
    return index;
}

}  // namespace

// Splitting rules, one UTF-16 unit at a time; only space and tab separate:
// - Argument 0 (the program name): `"` toggles quoting and is dropped, a blank outside quotes
//   ends it, everything else (backslashes too) is literal: `"C:\a b\x.exe"y` -> `C:\a b\x.exey`.
// - Later arguments: N backslashes before `"` give N/2 backslashes, and for odd N a literal `"`;
//   for even N the `"` is then read as a quote. Backslashes not before `"` are literal.
// - `"` outside quotes opens them; inside, `""` is a literal `"` and quoting stays open, any other
//   `"` closes them: `"a""b"` -> `a"b`, `"a"b` -> `ab`.
// - A blank outside quotes ends the argument, even an empty one (`"" x` -> ``, `x`). At the end of
//   the text the argument is kept when it is non-empty, still quoted, or closed by the very last
//   unit, so trailing blanks add nothing and `a "` -> `a`, ``.
std::vector<std::u16string> split_command_line(std::u16string_view command_line,
                                               std::u16string_view module_path) {
    if (command_line.empty()) {
        return {std::u16string(module_path)};
    }

    std::vector<std::u16string> arguments;
    std::u16string current;
    bool quoted = false;
    std::size_t i = 0;
    for (; i < command_line.size(); ++i) {
        const char16_t unit = command_line[i];
        if (unit == u'"') {
            quoted = !quoted;
        } else if (is_blank(unit) && !quoted) {
            break;
        } else {
            current += unit;
        }
    }
    arguments.push_back(std::move(current));
    current.clear();
    quoted = false;
    i = skip_blanks(command_line, i);

    while (i < command_line.size()) {
        const char16_t unit = command_line[i];
        if (is_blank(unit) && !quoted) {
            arguments.push_back(std::move(current));
            current.clear();
            i = skip_blanks(command_line, i);
        } else if (unit == u'\\') {
            std::size_t run_end = i;
            while (run_end < command_line.size() && command_line[run_end] == u'\\') {
                ++run_end;
            }
            const std::size_t run = run_end - i;
            if (run_end < command_line.size() && command_line[run_end] == u'"') {
                current.append(run / 2, u'\\');
                if (run % 2 == 1) {
                    current += u'"';
                    ++run_end;
                }
            } else {
                current.append(run, u'\\');
            }
            i = run_end;
        } else if (unit == u'"' && !quoted) {
            quoted = true;
            ++i;
        } else if (unit == u'"' && i + 1 < command_line.size() && command_line[i + 1] == u'"') {
            current += u'"';
            i += 2;
        } else if (unit == u'"') {
            quoted = false;
            ++i;
            if (i == command_line.size()) {
                arguments.push_back(std::move(current));
                return arguments;
            }
        } else {
            current += unit;
            ++i;
        }
    }
    if (!current.empty() || quoted) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

}  // namespace vellomar
