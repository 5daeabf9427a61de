#include "record_format.h"

#include <vector>

#include "core/paths.h"
#include "core/text.h"

namespace vellomar {

namespace {

constexpr std::u16string_view record_magic = u"vellomar-update pending 2";
constexpr std::u16string_view record_end = u"end";
constexpr std::u16string_view exe_suffix = u".exe";
constexpr std::u16string_view copy_marker = u".handover";
// magic, version, package, copy, launch file, nine numbers, end
constexpr std::size_t record_fields = 15;
constexpr std::size_t first_number = 5;

void append_field(std::u16string& text, std::u16string_view field) {
    text += field;
    text += u'\0';
}

std::uint64_t join_halves(std::uint32_t high, std::uint32_t low) {
    return (std::uint64_t{high} << 32) | low;
}

std::u16string_view file_name_of(std::u16string_view path) {
    std::size_t start = path.size();
    while (start > 0 && !is_separator(path[start - 1])) {
        --start;
    }
    return path.substr(start);
}

// `part` is lower-case ASCII.
bool contains_ignoring_case(std::u16string_view text, std::u16string_view part) {
    for (std::size_t start = 0; start + part.size() <= text.size(); ++start) {
        if (ends_with_ignoring_case(text.substr(0, start + part.size()), part)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::u16string encode_record(const PendingUpdate& update) {
    const std::uint32_t numbers[] = {update.application_pid,
                                     update.helper_pid,
                                     static_cast<std::uint32_t>(update.helper_created >> 32),
                                     static_cast<std::uint32_t>(update.helper_created),
                                     update.launch.volume,
                                     static_cast<std::uint32_t>(update.launch.index >> 32),
                                     static_cast<std::uint32_t>(update.launch.index),
                                     static_cast<std::uint32_t>(update.launch.last_write >> 32),
                                     static_cast<std::uint32_t>(update.launch.last_write)};
    std::u16string text;
    const std::u16string_view texts[] = {record_magic, update.version, update.package, update.helper_copy,
                                         update.launch_file};
    for (const std::u16string_view field : texts) {
        append_field(text, field);
    }
    for (const std::uint32_t number : numbers) {
        append_field(text, unsigned_decimal(number));
    }
    append_field(text, record_end);
    return text;
}

std::optional<PendingUpdate> decode_record(std::u16string_view text) {
    std::vector<std::u16string_view> fields;
    while (!text.empty() && fields.size() <= record_fields) {
        const std::size_t end = text.find(u'\0');
        if (end == std::u16string_view::npos) {
            return std::nullopt;
        }
        fields.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if (!text.empty() || fields.size() != record_fields || fields[0] != record_magic ||
        fields[record_fields - 1] != record_end || !is_fully_qualified(fields[2]) || !is_fully_qualified(fields[3]) ||
        !is_fully_qualified(fields[4])) {
        return std::nullopt;
    }
    std::uint32_t numbers[record_fields - first_number - 1] = {};
    for (std::size_t i = 0; i < std::size(numbers); ++i) {
        const std::optional<std::uint32_t> number = parse_decimal(fields[first_number + i]);
        if (!number) {
            return std::nullopt;
        }
        numbers[i] = *number;
    }
    PendingUpdate update;
    update.version = fields[1];
    update.package = fields[2];
    update.helper_copy = fields[3];
    update.launch_file = fields[4];
    update.application_pid = numbers[0];
    update.helper_pid = numbers[1];
    update.helper_created = join_halves(numbers[2], numbers[3]);
    update.launch = FileStamp{numbers[4], join_halves(numbers[5], numbers[6]), join_halves(numbers[7], numbers[8])};
    return update;
}

// The helper's file name without a final `.exe`: the copies keep the application's own name for it.
std::u16string copy_name(std::u16string_view helper, int number) {
    std::u16string_view stem = file_name_of(helper);
    if (stem.size() > exe_suffix.size() && ends_with_ignoring_case(stem, exe_suffix)) {
        stem.remove_suffix(exe_suffix.size());
    }
    std::u16string name(stem);
    name += copy_marker;
    if (number > 1) {
        name += u'-';
        name += unsigned_decimal(static_cast<std::uint32_t>(number));
    }
    name += exe_suffix;
    return name;
}

std::optional<std::u16string> copy_path(std::u16string_view helper, std::u16string_view package,
                                        std::u16string_view state_dir, int number) {
    std::u16string path = join_path(state_dir, copy_name(helper, number));
    if (same_path_text(path, package)) {
        return std::nullopt;
    }
    return path;
}

bool same_path_text(std::u16string_view first, std::u16string_view second) {
    if (first.size() != second.size()) {
        return false;
    }
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (ascii_lower(first[i]) != ascii_lower(second[i])) {
            return false;
        }
    }
    return true;
}

bool is_copy_name(std::u16string_view file_name) {
    return file_name.size() > exe_suffix.size() && ends_with_ignoring_case(file_name, exe_suffix) &&
           contains_ignoring_case(file_name.substr(0, file_name.size() - exe_suffix.size()), copy_marker);
}

}  // namespace vellomar
