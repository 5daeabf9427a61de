#pragma once
// The fixture of every test that writes the uninstall entry, or runs the helper or an installer
// that may: skipped when either hive already has an entry, and what it made is removed afterwards.
#include <gtest/gtest.h>

#include "registry.h"

namespace support {

class ScratchEntryTest : public testing::Test {
protected:
    void SetUp() override {
        for (const ScratchEntry* entry : {&user_entry_, &machine_entry_}) {
            if (const std::optional<std::string> reason = entry->unusable()) GTEST_SKIP() << *reason;
        }
    }

    ScratchEntry user_entry_{HKEY_CURRENT_USER};
    ScratchEntry machine_entry_{HKEY_LOCAL_MACHINE};
};

}  // namespace support
