#pragma once
// Removing the installer package once it has been installed. Standard types only.
#include <string_view>

namespace vellomar {

// Deletes the package, read-only or not; every failure is ignored.
void delete_package(std::u16string_view path);

}  // namespace vellomar
