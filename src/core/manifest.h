#pragma once
// What an executable's embedded manifest asks of Windows before it runs, read as text.
#include <string_view>

namespace vellomar {

// The manifest asks for `requireAdministrator` or `highestAvailable` in its
// `requestedExecutionLevel`: a process that is not elevated cannot start such a program with
// CreateProcessW (ERROR_ELEVATION_REQUIRED); only the shell's consent prompt can. `asInvoker`, no
// such element, or text that is not a manifest ask for nothing.
// - The bytes are UTF-8 (or ASCII), or UTF-16LE with its byte-order mark.
// - Elements inside comments do not count; a namespace prefix on the element's name does not
//   matter (`<asmv3:requestedExecutionLevel …>`); the attribute may be quoted with `"` or `'` and
//   have white space around its `=`.
// - The first such element decides, as Windows reads only one.
bool manifest_requires_elevation(std::string_view manifest);

}  // namespace vellomar
