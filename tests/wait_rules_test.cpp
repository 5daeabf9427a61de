// The decisions of the waits before an installation.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/wait_rules.h"

namespace {

using vellomar::ProcessStart;

struct CandidateCase {
    ProcessStart process;
    bool may_be_application;
};

TEST(WaitRules, OnlyAnOtherProcessNotYoungerThanTheHelperMayBeTheApplication) {
    const ProcessStart helper{100, 5000};
    const CandidateCase cases[] = {
        {{200, 4000}, true},   // older: waited for
        {{200, 5000}, true},   // created in the same tick: cannot be told apart, waited for
        {{200, 5001}, false},  // younger: the application's id was reused
        {{200, 0}, true},      // creation time unknown: waiting is the default
        {{100, 5000}, false},  // the helper itself
        {{100, 0}, false},     // the helper itself, whatever the clock says
    };
    for (const CandidateCase& row : cases) {
        EXPECT_EQ(vellomar::may_be_application(row.process, helper), row.may_be_application)
            << row.process.pid << " created " << row.process.created;
    }
    EXPECT_TRUE(vellomar::may_be_application({200, 9000}, {100, 0})) << "the helper's own time unknown";
}

struct ProbeCase {
    std::uint64_t elapsed_ms;
    std::uint64_t limit_seconds;
    bool due;
};

TEST(WaitRules, UnlockIsProbedWhileFewerWholeSecondsThanTheLimitHavePassed) {
    const ProbeCase cases[] = {
        {0, 15, true}, {14999, 15, true}, {15000, 15, false}, {UINT64_MAX, 15, false}, {0, 0, false}, {999, 1, true},
    };
    for (const ProbeCase& row : cases) {
        EXPECT_EQ(vellomar::unlock_probe_due(row.elapsed_ms, row.limit_seconds), row.due)
            << row.elapsed_ms << " ms of " << row.limit_seconds << " s";
    }
}

}  // namespace
