// The stamp on the real registry, under the entry's real name: each test claims the entries
// through the scratch fixture, which skips the test when an entry it did not make already exists.
#include "platform/uninstall_entry.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/handles.h"
#include "scratch_entry_test.h"

namespace vellomar {
namespace {

using support::read_dword;
using support::read_string;

Hive hive_of(HKEY root) { return root == HKEY_CURRENT_USER ? Hive::current_user : Hive::local_machine; }

void expect_stamp(HKEY hive, const std::wstring& display, DWORD major, DWORD minor) {
    EXPECT_EQ(read_string(hive, L"DisplayVersion"), display);
    EXPECT_EQ(read_dword(hive, L"VersionMajor"), major);
    EXPECT_EQ(read_dword(hive, L"VersionMinor"), minor);
}

class UninstallEntry : public support::ScratchEntryTest {};

TEST_F(UninstallEntry, WritesTheThreeValuesIntoAnExistingEntry) {
    // The key the tests claim is the one the helper stamps.
    ASSERT_EQ(std::wstring(uninstall_entry_path.begin(), uninstall_entry_path.end()), support::entry_path);
    ASSERT_TRUE(user_entry_.create());
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2.3.0");
    expect_stamp(HKEY_CURRENT_USER, L"2.3.0", 2, 3);
}

TEST_F(UninstallEntry, UserOnlyEntryIsUpdatedAndTheMachineHiveGetsNothing) {
    ASSERT_TRUE(user_entry_.create());
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2.5");
    stamp_uninstall_version(hive_of(HKEY_LOCAL_MACHINE), u"2.5");
    expect_stamp(HKEY_CURRENT_USER, L"2.5", 2, 5);
    EXPECT_FALSE(support::entry_exists(HKEY_LOCAL_MACHINE));
}

TEST_F(UninstallEntry, MachineEntryIsStampedWhereItExists) {
    if (!machine_entry_.create()) GTEST_SKIP() << "the machine hive is not writable here";
    stamp_uninstall_version(hive_of(HKEY_LOCAL_MACHINE), u"7.1");
    expect_stamp(HKEY_LOCAL_MACHINE, L"7.1", 7, 1);
}

TEST_F(UninstallEntry, DisplayVersionOfAnotherTypeIsReplacedByAString) {
    ASSERT_TRUE(user_entry_.create());
    ASSERT_TRUE(user_entry_.set_dword(L"DisplayVersion", 0x00010002));
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"4.0");
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"4.0");
}

TEST_F(UninstallEntry, SingleNumberStoresMinorZeroOverTheOldMinor) {
    ASSERT_TRUE(user_entry_.create());
    ASSERT_TRUE(user_entry_.set_string(L"DisplayVersion", L"1.9"));
    ASSERT_TRUE(user_entry_.set_dword(L"VersionMajor", 1));
    ASSERT_TRUE(user_entry_.set_dword(L"VersionMinor", 9));
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2");
    expect_stamp(HKEY_CURRENT_USER, L"2", 2, 0);
}

TEST_F(UninstallEntry, DataLengthCountsUtf16UnitsAndTheNul) {
    ASSERT_TRUE(user_entry_.create());
    // Seven UTF-16 units: the emoji is a surrogate pair, the beta one unit.
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"3.1-\u03B2\U0001F600");
    const std::optional<support::StoredValue> stored = support::read_value(HKEY_CURRENT_USER, L"DisplayVersion");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->data.size(), 16u);
    expect_stamp(HKEY_CURRENT_USER, L"3.1-\u03B2\U0001F600", 3, 1);
}

TEST_F(UninstallEntry, OtherValuesAreUntouchedAndNoKeyIsCreated) {
    ASSERT_TRUE(user_entry_.create());
    ASSERT_TRUE(user_entry_.set_string(L"DisplayName", L"Vellomar \u7ef4\u6d1b\u739b"));
    ASSERT_TRUE(user_entry_.set_string(L"UninstallString", L"\"C:\\Program Files\\Vellomar\\uninst.exe\""));
    ASSERT_TRUE(user_entry_.set_dword(L"EstimatedSize", 0x12345678));
    ASSERT_TRUE(user_entry_.set_dword(L"NoModify", 1));
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2.3.0");

    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"DisplayName"), L"Vellomar \u7ef4\u6d1b\u739b");
    EXPECT_EQ(read_string(HKEY_CURRENT_USER, L"UninstallString"), L"\"C:\\Program Files\\Vellomar\\uninst.exe\"");
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"EstimatedSize"), 0x12345678u);
    EXPECT_EQ(read_dword(HKEY_CURRENT_USER, L"NoModify"), 1u);
    UniqueKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, support::entry_path, 0, KEY_READ, key.receive()), ERROR_SUCCESS);
    DWORD subkeys = 99;
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, 7u);
}

// The fixture established that neither entry existed before.
TEST_F(UninstallEntry, MissingEntryIsNotCreated) {
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2.3.0");
    stamp_uninstall_version(hive_of(HKEY_LOCAL_MACHINE), u"2.3.0");
    EXPECT_FALSE(support::entry_exists(HKEY_CURRENT_USER));
    EXPECT_FALSE(support::entry_exists(HKEY_LOCAL_MACHINE));
}

}  // namespace
}  // namespace vellomar
