// Fuzz target for the pure text core, through its public headers: argument quoting against
// splitting, the batch-script command line, the debug rendering, version splitting and the path
// rules. The properties checked here are the ones the callers rely on, not the exact outputs, so
// that they stay true while the details of a rule change.
//
// The input bytes are read as UTF-16 units (little-endian pairs; an odd last byte is dropped), so
// that NULs and unpaired surrogates turn up as often as any other unit. U+001F splits the units
// into fields: the first is the program (or script), the others are arguments; an argument field
// that starts with U+001E is a verbatim entry for the batch-script command line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/command_line.h"
#include "core/quoting.h"
#include "core/messages.h"
#include "core/options.h"
#include "core/paths.h"
#include "core/version_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using vellomar::ArgumentEntry;
using vellomar::QuotingError;

constexpr char16_t field_separator = 0x1F;
constexpr char16_t verbatim_marker = 0x1E;

struct FuzzCase {
    std::u16string units;
    std::vector<std::u16string> fields;  // never empty
};

// The whole input is printed so that a failure can be turned into a test case by hand; libFuzzer
// also keeps the raw bytes as a crash file.
[[noreturn]] void fail(const char* what, const FuzzCase& input) {
    std::fprintf(stderr, "text_core_fuzz: %s\ninput (%zu UTF-16 units):", what, input.units.size());
    for (const char16_t unit : input.units) {
        std::fprintf(stderr, " %04X", static_cast<unsigned>(unit));
    }
    std::fprintf(stderr, "\n");
    std::abort();
}

FuzzCase read_case(const std::uint8_t* data, std::size_t size) {
    FuzzCase input;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        input.units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    input.fields.emplace_back();
    for (const char16_t unit : input.units) {
        if (unit == field_separator) {
            input.fields.emplace_back();
        } else {
            input.fields.back() += unit;
        }
    }
    return input;
}

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Written here rather than taken from the core, so that the check does not share a bug with it.
bool has_unpaired_surrogate(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_high_surrogate(text[i]) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            ++i;
        } else if (is_high_surrogate(text[i]) || is_low_surrogate(text[i])) {
            return true;
        }
    }
    return false;
}

// C0, DEL and C1: the general category Cc.
bool has_control_character(std::u16string_view text) {
    for (const char16_t unit : text) {
        if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) {
            return true;
        }
    }
    return false;
}

bool is_refusal(const std::variant<std::u16string, QuotingError>& result, std::u16string_view message) {
    const QuotingError* error = std::get_if<QuotingError>(&result);
    return error != nullptr && error->message == message;
}

bool same_result(const std::variant<std::u16string, QuotingError>& a,
                 const std::variant<std::u16string, QuotingError>& b) {
    if (a.index() != b.index()) {
        return false;
    }
    if (const auto* text = std::get_if<std::u16string>(&a)) {
        return *text == std::get<std::u16string>(b);
    }
    const QuotingError& x = std::get<QuotingError>(a);
    const QuotingError& y = std::get<QuotingError>(b);
    return x.message == y.message;
}

// Every ordinary argument list without NULs comes back unchanged from quoting and splitting, the
// program (free of `"`, which the caller never passes) as argument 0. A NUL is refused instead.
void check_quote_split_round_trip(const FuzzCase& input) {
    std::u16string program;
    for (const char16_t unit : input.fields.front()) {
        if (unit != u'"') {
            program += unit;
        }
    }
    std::vector<ArgumentEntry> arguments;
    std::vector<std::u16string> expected{program};
    bool nul = false;
    for (std::size_t i = 1; i < input.fields.size(); ++i) {
        arguments.push_back({input.fields[i], false});
        expected.push_back(input.fields[i]);
        nul = nul || vellomar::contains_nul(input.fields[i]);
    }
    const auto built = vellomar::build_command_line(program, arguments);
    if (nul) {
        if (!is_refusal(built, vellomar::nul_in_data_message)) {
            fail("build_command_line did not refuse an argument with a NUL", input);
        }
        return;
    }
    const auto* command_line = std::get_if<std::u16string>(&built);
    if (command_line == nullptr) {
        fail("build_command_line refused arguments without a NUL", input);
    }
    if (vellomar::split_command_line(*command_line, u"module.exe") != expected) {
        fail("split_command_line(build_command_line(...)) changed the arguments", input);
    }
}

// The refusals a script call calls for by the rules above build_script_command_line; any one of
// them is a correct answer, since the order of the checks is not part of the rules.
// - the script path: `"` or a final `\` (the path message), `%` (the arguments message);
// - an ordinary argument: CR or LF (the arguments message), NUL (the NUL message);
// - a verbatim argument: NUL (the NUL message), any character cmd.exe acts on (the arguments message).
std::vector<std::u16string_view> script_refusals(std::u16string_view script,
                                                 const std::vector<ArgumentEntry>& arguments) {
    constexpr std::u16string_view cmd_special = u"&|<>^%\"\r\n";
    std::vector<std::u16string_view> refusals;
    if (script.find(u'"') != std::u16string_view::npos || (!script.empty() && script.back() == u'\\')) {
        refusals.push_back(vellomar::batch_path_message);
    }
    if (script.find(u'%') != std::u16string_view::npos) {
        refusals.push_back(vellomar::batch_arguments_message);
    }
    for (const ArgumentEntry& argument : arguments) {
        const std::u16string_view forbidden = argument.verbatim ? cmd_special : u"\r\n";
        if (argument.text.find_first_of(forbidden) != std::u16string::npos) {
            refusals.push_back(vellomar::batch_arguments_message);
        }
        if (vellomar::contains_nul(argument.text)) {
            refusals.push_back(vellomar::nul_in_data_message);
        }
    }
    return refusals;
}

// Same input, same answer; a refusal exactly when the documented rules call for one, with one of
// their messages; otherwise the script quoted after cmd.exe's switches inside one more pair of quotes.
void check_script_command_line(const FuzzCase& input) {
    const std::u16string& script = input.fields.front();
    std::vector<ArgumentEntry> arguments;
    for (std::size_t i = 1; i < input.fields.size(); ++i) {
        const std::u16string& field = input.fields[i];
        const bool verbatim = !field.empty() && field.front() == verbatim_marker;
        arguments.push_back({verbatim ? field.substr(1) : field, verbatim});
    }
    const auto first = vellomar::build_script_command_line(script, arguments);
    const auto second = vellomar::build_script_command_line(script, arguments);
    if (!same_result(first, second)) {
        fail("build_script_command_line gave two answers for one input", input);
    }
    const std::vector<std::u16string_view> refusals = script_refusals(script, arguments);
    if (refusals.empty()) {
        const auto* command_line = std::get_if<std::u16string>(&first);
        if (command_line == nullptr) {
            fail("build_script_command_line refused a valid script call", input);
        }
        const std::u16string head = u"cmd.exe /e:ON /v:OFF /d /c \"\"" + script + u"\"";
        if (!vellomar::starts_with(*command_line, head) || command_line->back() != u'"') {
            fail("build_script_command_line lost the quoted script or the closing quote", input);
        }
        return;
    }
    for (const std::u16string_view message : refusals) {
        if (is_refusal(first, message)) {
            return;
        }
    }
    fail("build_script_command_line did not refuse with a documented message", input);
}

// Whatever the text, the rendering is well-formed UTF-16 without raw control characters, inside
// Some("...").
void check_debug_render(const FuzzCase& input) {
    const std::u16string rendered = vellomar::debug_render(input.units);
    if (!vellomar::starts_with(rendered, u"Some(\"") || rendered.size() < 8 ||
        rendered.compare(rendered.size() - 2, 2, u"\")") != 0) {
        fail("debug_render lost Some(\"...\")", input);
    }
    if (has_unpaired_surrogate(rendered)) {
        fail("debug_render wrote an unpaired surrogate", input);
    }
    if (has_control_character(rendered)) {
        fail("debug_render wrote a raw control character", input);
    }
}

// The leading run of ASCII digits as a 32-bit number, 0 when empty or too large.
std::uint32_t leading_number(std::u16string_view text) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > UINT32_MAX) {
            return 0;
        }
    }
    return static_cast<std::uint32_t>(value);
}

// The major number is the leading digit run whatever the separators are; a text of digits alone
// has no minor number.
void check_version(const FuzzCase& input) {
    for (const std::u16string& text : {input.units, vellomar::trim_version(input.units)}) {
        const vellomar::VersionNumbers numbers = vellomar::split_version(text);
        if (numbers.major != leading_number(text)) {
            fail("split_version: the major number is not the leading digit run", input);
        }
        const bool digits_only = text.find_first_not_of(u"0123456789") == std::u16string::npos;
        if (digits_only && numbers.minor != 0) {
            fail("split_version: a minor number without a separator", input);
        }
    }
    const std::u16string trimmed = vellomar::trim_version(input.units);
    if (input.units.find(trimmed) == std::u16string::npos) {
        fail("trim_version gave a text that is not part of its input", input);
    }
}

// Stripping only ever removes (or shortens) a leading `\\?\`; the parent is a proper prefix.
void check_path(const FuzzCase& input, const std::u16string& path) {
    const std::u16string stripped = vellomar::strip_verbatim_prefix(path);
    if (!vellomar::starts_with(path, vellomar::verbatim_prefix) && stripped != path) {
        fail("strip_verbatim_prefix changed a path without the verbatim prefix", input);
    }
    if (stripped.size() > path.size()) {
        fail("strip_verbatim_prefix made a path longer", input);
    }
    const std::u16string directory = vellomar::install_dir_argument(path);
    if (!vellomar::starts_with(path, directory) || (!directory.empty() && vellomar::is_separator(directory.back()))) {
        fail("install_dir_argument is not its path less the trailing separators", input);
    }
    if (const std::optional<std::u16string> parent = vellomar::parent_path(path)) {
        if (parent->size() >= path.size() || !vellomar::starts_with(path, *parent)) {
            fail("parent_path is not a shorter prefix of its path", input);
        }
    }
}

// The helper's own way in: its command line split, then read as options. Only crashes count here,
// and the sanitizers see them.
void run_options(const FuzzCase& input) {
    const std::vector<std::u16string> arguments = vellomar::split_command_line(input.units, u"module.exe");
    if (arguments.empty()) {
        fail("split_command_line gave no argument 0", input);
    }
    const auto options = vellomar::build_options(arguments);
    if (const auto* error = std::get_if<vellomar::OptionError>(&options)) {
        (void)vellomar::option_error_message(*error);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FuzzCase input = read_case(data, size);
    check_quote_split_round_trip(input);
    check_script_command_line(input);
    check_debug_render(input);
    check_version(input);
    check_path(input, input.units);
    for (const std::u16string& field : input.fields) {
        check_path(input, field);
    }
    run_options(input);
    return 0;
}
