// The stamp on the real registry. Tests run in a private Wine prefix, so the entry's real name is
// used; each test creates the entry it needs and deletes it again, and leaves an entry it did not
// create alone (it skips instead).
#include "platform/uninstall_entry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vellomar {
namespace {

const wchar_t* const uninstall_parent = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring entry_path(uninstall_entry_path.begin(), uninstall_entry_path.end());

Hive hive_of(HKEY root) { return root == HKEY_CURRENT_USER ? Hive::current_user : Hive::local_machine; }

bool entry_exists(HKEY hive) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, entry_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// The entry as the installer leaves it, removed again at the end of the test; also the
// Uninstall key above it when that did not exist before.
class ScratchEntry {
public:
    explicit ScratchEntry(HKEY hive) : hive_(hive) {
        HKEY parent = nullptr;
        parent_existed_ = RegOpenKeyExW(hive, uninstall_parent, 0, KEY_READ, &parent) == ERROR_SUCCESS;
        if (parent_existed_) {
            RegCloseKey(parent);
        }
        DWORD disposition = 0;
        status_ = RegCreateKeyExW(hive, entry_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                  &disposition);
        created_ = status_ == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    }
    ScratchEntry(const ScratchEntry&) = delete;
    ScratchEntry& operator=(const ScratchEntry&) = delete;
    ~ScratchEntry() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
        if (created_) {
            RegDeleteKeyW(hive_, entry_path.c_str());
            if (!parent_existed_) {
                RegDeleteKeyW(hive_, uninstall_parent);
            }
        }
    }

    // Why the test cannot use this entry, or nothing when it can.
    std::optional<std::string> unusable() const {
        if (status_ != ERROR_SUCCESS) {
            return "the entry cannot be created here (error " + std::to_string(status_) + ")";
        }
        if (!created_) {
            return std::string("an uninstall entry that this test did not create already exists");
        }
        return std::nullopt;
    }

    void set_string(const wchar_t* name, const std::wstring& text) {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void set_dword(const wchar_t* name, DWORD value) {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
    }

private:
    HKEY hive_;
    HKEY key_ = nullptr;
    LSTATUS status_ = ERROR_SUCCESS;
    bool created_ = false;
    bool parent_existed_ = false;
};

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::optional<StoredValue> read_value(HKEY hive, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, entry_path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    StoredValue value;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        value.data.resize(size);
        status = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

StoredValue string_value(const std::wstring& text) {
    StoredValue value;
    value.type = REG_SZ;
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

StoredValue dword_value(DWORD number) {
    StoredValue value;
    value.type = REG_DWORD;
    const auto* bytes = reinterpret_cast<const BYTE*>(&number);
    value.data.assign(bytes, bytes + sizeof(number));
    return value;
}

void expect_value(HKEY hive, const wchar_t* name, const StoredValue& expected) {
    const std::optional<StoredValue> stored = read_value(hive, name);
    ASSERT_TRUE(stored.has_value()) << "value missing";
    EXPECT_EQ(stored->type, expected.type);
    EXPECT_EQ(stored->data, expected.data);
}

void expect_stamp(HKEY hive, const std::wstring& display, DWORD major, DWORD minor) {
    expect_value(hive, L"DisplayVersion", string_value(display));
    expect_value(hive, L"VersionMajor", dword_value(major));
    expect_value(hive, L"VersionMinor", dword_value(minor));
}

TEST(UninstallEntry, WritesTheThreeValuesIntoAnExistingEntry) {
    ScratchEntry entry(HKEY_CURRENT_USER);
    if (const auto reason = entry.unusable()) GTEST_SKIP() << *reason;
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2.3.0");
    expect_stamp(HKEY_CURRENT_USER, L"2.3.0", 2, 3);
}

TEST(UninstallEntry, UserOnlyEntryIsUpdatedAndTheMachineHiveGetsNothing) {
    if (entry_exists(HKEY_LOCAL_MACHINE)) {
        GTEST_SKIP() << "the machine hive already has an entry";
    }
    ScratchEntry entry(HKEY_CURRENT_USER);
    if (const auto reason = entry.unusable()) GTEST_SKIP() << *reason;
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2.5");
    stamp_uninstall_version(hive_of(HKEY_LOCAL_MACHINE), u"2.5");
    expect_stamp(HKEY_CURRENT_USER, L"2.5", 2, 5);
    EXPECT_FALSE(entry_exists(HKEY_LOCAL_MACHINE));
}

TEST(UninstallEntry, MachineEntryIsStampedWhereItExists) {
    ScratchEntry entry(HKEY_LOCAL_MACHINE);
    if (const auto reason = entry.unusable()) GTEST_SKIP() << *reason;
    stamp_uninstall_version(hive_of(HKEY_LOCAL_MACHINE), u"7.1");
    expect_stamp(HKEY_LOCAL_MACHINE, L"7.1", 7, 1);
}

TEST(UninstallEntry, DisplayVersionOfAnotherTypeIsReplacedByAString) {
    ScratchEntry entry(HKEY_CURRENT_USER);
    if (const auto reason = entry.unusable()) GTEST_SKIP() << *reason;
    entry.set_dword(L"DisplayVersion", 0x00010002);
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"4.0");
    expect_value(HKEY_CURRENT_USER, L"DisplayVersion", string_value(L"4.0"));
}

TEST(UninstallEntry, SingleNumberStoresMinorZeroOverTheOldMinor) {
    ScratchEntry entry(HKEY_CURRENT_USER);
    if (const auto reason = entry.unusable()) GTEST_SKIP() << *reason;
    entry.set_string(L"DisplayVersion", L"1.9");
    entry.set_dword(L"VersionMajor", 1);
    entry.set_dword(L"VersionMinor", 9);
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2");
    expect_stamp(HKEY_CURRENT_USER, L"2", 2, 0);
}

TEST(UninstallEntry, NonNumericVersionStoresTheTextAndZeros) {
    ScratchEntry entry(HKEY_CURRENT_USER);
    if (const auto reason = entry.unusable()) GTEST_SKIP() << *reason;
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"beta");
    expect_stamp(HKEY_CURRENT_USER, L"beta", 0, 0);
}

TEST(UninstallEntry, DataLengthCountsUtf16UnitsAndTheNul) {
    ScratchEntry entry(HKEY_CURRENT_USER);
    if (const auto reason = entry.unusable()) GTEST_SKIP() << *reason;
    // Seven UTF-16 units: the emoji is a surrogate pair, the beta one unit.
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"3.1-\u03B2\U0001F600");
    const std::optional<StoredValue> stored = read_value(HKEY_CURRENT_USER, L"DisplayVersion");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->data.size(), 16u);
    expect_stamp(HKEY_CURRENT_USER, L"3.1-\u03B2\U0001F600", 3, 1);
}

TEST(UninstallEntry, OtherValuesAreUntouchedAndNoKeyIsCreated) {
    ScratchEntry entry(HKEY_CURRENT_USER);
    if (const auto reason = entry.unusable()) GTEST_SKIP() << *reason;
    entry.set_string(L"DisplayName", L"Vellomar \u7ef4\u6d1b\u739b");
    entry.set_string(L"UninstallString", L"\"C:\\Program Files\\Vellomar\\uninst.exe\"");
    entry.set_dword(L"EstimatedSize", 0x12345678);
    entry.set_dword(L"NoModify", 1);
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2.3.0");

    expect_value(HKEY_CURRENT_USER, L"DisplayName", string_value(L"Vellomar \u7ef4\u6d1b\u739b"));
    expect_value(HKEY_CURRENT_USER, L"UninstallString", string_value(L"\"C:\\Program Files\\Vellomar\\uninst.exe\""));
    expect_value(HKEY_CURRENT_USER, L"EstimatedSize", dword_value(0x12345678));
    expect_value(HKEY_CURRENT_USER, L"NoModify", dword_value(1));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, entry_path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD subkeys = 99;
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(subkeys, 0u);
    EXPECT_EQ(values, 7u);
}

TEST(UninstallEntry, MissingEntryIsNotCreated) {
    if (entry_exists(HKEY_CURRENT_USER) || entry_exists(HKEY_LOCAL_MACHINE)) {
        GTEST_SKIP() << "an uninstall entry that this test did not create already exists";
    }
    stamp_uninstall_version(hive_of(HKEY_CURRENT_USER), u"2.3.0");
    stamp_uninstall_version(hive_of(HKEY_LOCAL_MACHINE), u"2.3.0");
    EXPECT_FALSE(entry_exists(HKEY_CURRENT_USER));
    EXPECT_FALSE(entry_exists(HKEY_LOCAL_MACHINE));
}

}  // namespace
}  // namespace vellomar
