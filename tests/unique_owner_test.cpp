// The owner template over a close function that records what it closes.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/unique_owner.h"

namespace {

std::vector<std::intptr_t> closed;

void record_close(void* handle) { closed.push_back(reinterpret_cast<std::intptr_t>(handle)); }

// 0 and -1 both mean "nothing owned", as for a kernel handle.
using Owner = vellomar::UniqueOwner<void*, record_close, 0, -1>;

void* handle(std::intptr_t value) { return reinterpret_cast<void*>(value); }

struct OwnerCase {
    const char* name;
    void (*use)();
    std::vector<std::intptr_t> closed;  // in order, once every owner is gone
};

void PrintTo(const OwnerCase& row, std::ostream* out) { *out << row.name; }

const OwnerCase owner_cases[] = {
    {"EndOfScopeClosesOnce", [] { Owner owner(handle(1)); }, {1}},
    {"BothEmptyValuesAreNeverClosed",
     [] {
         Owner null_owner(handle(0)), invalid_owner(handle(-1));
         EXPECT_FALSE(null_owner.valid() || invalid_owner.valid());
         invalid_owner.reset();
     },
     {}},
    {"MoveLeavesTheSourceEmpty",
     [] {
         Owner source(handle(1));
         const Owner target(std::move(source));
         EXPECT_FALSE(source.valid());
         EXPECT_EQ(target.get(), handle(1));
     },
     {1}},
    {"MoveAssignClosesWhatTheTargetHeld",
     [] {
         Owner source(handle(1)), target(handle(2));
         target = std::move(source);
         EXPECT_EQ(closed, std::vector<std::intptr_t>{2});
     },
     {2, 1}},
    {"SelfMoveKeepsTheHandle",
     [] {
         Owner owner(handle(1));
         Owner& alias = owner;
         owner = std::move(alias);
         EXPECT_EQ(owner.get(), handle(1));
     },
     {1}},
    {"ResetClosesTheOldHandle", [] { Owner(handle(1)).reset(handle(2)); }, {1, 2}},
    {"ResetToTheSameHandleIsANoOp",
     [] {
         Owner owner(handle(1));
         owner.reset(owner.get());
         EXPECT_TRUE(closed.empty());
     },
     {1}},
    {"ReleaseGivesTheHandleUpUnclosed",
     [] {
         Owner owner(handle(1));
         EXPECT_EQ(owner.release(), handle(1));
         EXPECT_FALSE(owner.valid());
     },
     {}},
    {"ReceiveOnAFullOwnerClosesFirst",
     [] {
         Owner owner(handle(1));
         *owner.receive() = handle(2);
         EXPECT_EQ(closed, std::vector<std::intptr_t>{1});
     },
     {1, 2}},
};

class UniqueOwnerTable : public testing::TestWithParam<OwnerCase> {};

TEST_P(UniqueOwnerTable, ClosesExactlyThese) {
    closed.clear();
    GetParam().use();
    EXPECT_EQ(closed, GetParam().closed);
}

INSTANTIATE_TEST_SUITE_P(Rows, UniqueOwnerTable, testing::ValuesIn(owner_cases),
                         [](const testing::TestParamInfo<OwnerCase>& info) { return std::string(info.param.name); });

}  // namespace
