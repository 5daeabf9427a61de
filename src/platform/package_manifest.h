#pragma once
// The embedded manifest of an installer package, read as data: the package is never run.
#include <string_view>

namespace vellomar {

// The package is a Windows program whose manifest asks for administrator rights
// (core/manifest.h). A file that cannot be read, is not a program or has no manifest asks for
// nothing: CreateProcessW will say so itself.
[[nodiscard]] bool package_requires_elevation(std::u16string_view package);

}  // namespace vellomar
