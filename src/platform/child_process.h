#pragma once
// A started child that its starter keeps: one owner for the process and its first thread, which
// closes the process handle first (members go in reverse order).
#include <cstdint>
#include <variant>

#include "platform/handles.h"
#include "platform/process_launcher.h"

namespace vellomar {

struct Child {
    UniqueHandle thread;
    UniqueHandle process;
    std::uint32_t pid = 0;
};

// Starts the child as process_launcher.h describes, and hands it over.
[[nodiscard]] std::variant<Child, LaunchError> start_child(const LaunchRequest& request);

}  // namespace vellomar
