#include "platform/path_forms.h"

#include "platform/string_queries.h"

namespace vellomar {

std::u16string fully_qualified_path(const std::u16string& path) {
    if (is_fully_qualified(path)) {
        return path;
    }
    const OsResult<std::u16string> absolute = full_path_name(path);
    return absolute.ok() ? absolute.value : path;
}

// The absolute form drops what the verbatim prefix would otherwise keep literally (`.`, `..`,
// `/`, trailing dots and spaces).
OsResult<std::u16string> system_path(const std::u16string& fully_qualified, PathUse use) {
    if (!needs_long_form(fully_qualified, use)) {
        return {fully_qualified};
    }
    OsResult<std::u16string> absolute = full_path_name(fully_qualified);
    if (absolute.ok()) {
        absolute.value = with_verbatim_prefix(absolute.value);
    }
    return absolute;
}

std::u16string file_system_path(std::u16string_view path) {
    const std::u16string given(path);
    // Should the system refuse to resolve the path, the call it was meant for fails on its own.
    const OsResult<std::u16string> os_path = system_path(given, PathUse::file_system);
    return os_path.ok() ? os_path.value : given;
}

}  // namespace vellomar
