#include "core/manifest.h"

#include <cstddef>
#include <string>

namespace vellomar {

namespace {

constexpr std::string_view element_name = "requestedExecutionLevel";
constexpr std::string_view level_name = "level";

// UTF-16LE with a byte-order mark becomes ASCII, every other unit a `?`: the names and values that
// matter here are ASCII.
std::string as_narrow(std::string_view manifest) {
    if (manifest.size() < 2 || manifest[0] != '\xFF' || manifest[1] != '\xFE') {
        return std::string(manifest);
    }
    std::string narrow;
    for (std::size_t i = 2; i + 1 < manifest.size(); i += 2) {
        narrow += manifest[i + 1] == '\0' && static_cast<unsigned char>(manifest[i]) < 0x80 ? manifest[i] : '?';
    }
    return narrow;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':';
}

// The text of the first start tag named `name` (with or without a prefix) outside comments, from
// just after its name to its closing `>`, or nothing.
std::string_view first_tag(std::string_view text, std::string_view name) {
    std::size_t at = 0;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        if (text.substr(at, 4) == "<!--") {
            const std::size_t end = text.find("-->", at + 4);
            if (end == std::string_view::npos) {
                return {};
            }
            at = end + 3;
            continue;
        }
        std::size_t end = at + 1;
        while (end < text.size() && is_name_char(text[end])) {
            ++end;
        }
        const std::string_view tag = text.substr(at + 1, end - at - 1);
        const std::size_t colon = tag.rfind(':');
        const std::string_view local = colon == std::string_view::npos ? tag : tag.substr(colon + 1);
        const std::size_t close = text.find('>', end);
        if (close == std::string_view::npos) {
            return {};
        }
        if (local == name) {
            return text.substr(end, close - end);
        }
        at = close + 1;
    }
    return {};
}

// The value of attribute `name` in a tag's attribute text, or nothing.
std::string_view attribute_value(std::string_view attributes, std::string_view name) {
    std::size_t at = 0;
    while (at < attributes.size()) {
        while (at < attributes.size() && !is_name_char(attributes[at])) {
            ++at;
        }
        const std::size_t name_start = at;
        while (at < attributes.size() && is_name_char(attributes[at])) {
            ++at;
        }
        const std::string_view found = attributes.substr(name_start, at - name_start);
        while (at < attributes.size() && is_space(attributes[at])) {
            ++at;
        }
        if (at >= attributes.size() || attributes[at] != '=') {
            continue;
        }
        ++at;
        while (at < attributes.size() && is_space(attributes[at])) {
            ++at;
        }
        if (at >= attributes.size() || (attributes[at] != '"' && attributes[at] != '\'')) {
            return {};
        }
        const char quote = attributes[at];
        const std::size_t value_end = attributes.find(quote, at + 1);
        if (value_end == std::string_view::npos) {
            return {};
        }
        if (found == name) {
            return attributes.substr(at + 1, value_end - at - 1);
        }
        at = value_end + 1;
    }
    return {};
}

}  // namespace

bool manifest_requires_elevation(std::string_view manifest) {
    const std::string text = as_narrow(manifest);
    const std::string_view level = attribute_value(first_tag(text, element_name), level_name);
    return level == "requireAdministrator" || level == "highestAvailable";
}

}  // namespace vellomar
