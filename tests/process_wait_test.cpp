#include "platform/process_wait.h"

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace vellomar {
namespace {

// Waiting on itself would never end, so the helper's own id is nothing to wait for.
TEST(ProcessWait, OwnIdIsNotWaitedFor) {
    EXPECT_FALSE(wait_for_application_exit(GetCurrentProcessId()));
}

}  // namespace
}  // namespace vellomar
