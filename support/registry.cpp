#include "registry.h"

#include <cstring>

#include "platform/handles.h"

namespace support {

using vellomar::UniqueKey;

const wchar_t* const entry_path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellomar";

namespace {

const wchar_t* const uninstall_parent = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool key_exists(HKEY hive, const wchar_t* path) {
    UniqueKey key;
    return RegOpenKeyExW(hive, path, 0, KEY_READ, key.receive()) == ERROR_SUCCESS;
}

bool set_value(HKEY hive, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    UniqueKey key;
    return RegOpenKeyExW(hive, entry_path, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS &&
           RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

}  // namespace

bool entry_exists(HKEY hive) { return key_exists(hive, entry_path); }

std::optional<StoredValue> read_value(HKEY hive, const wchar_t* name) {
    UniqueKey key;
    if (RegOpenKeyExW(hive, entry_path, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) return std::nullopt;
    StoredValue value;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    value.data.resize(size);
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.data.resize(size);
    return value;
}

std::wstring read_string(HKEY hive, const wchar_t* name) {
    const std::optional<StoredValue> value = read_value(hive, name);
    if (!value) return L"<missing>";
    if (value->type != REG_SZ) return L"<type " + std::to_wstring(value->type) + L">";
    std::wstring text(value->data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value->data.data(), text.size() * sizeof(wchar_t));
    if (value->data.size() % sizeof(wchar_t) != 0 || text.empty() || text.back() != L'\0') return L"<unterminated>";
    text.pop_back();
    return text;
}

DWORD read_dword(HKEY hive, const wchar_t* name) {
    const std::optional<StoredValue> value = read_value(hive, name);
    DWORD number = 0xFFFFFFFF;
    if (value && value->type == REG_DWORD && value->data.size() == sizeof(number)) {
        std::memcpy(&number, value->data.data(), sizeof(number));
    }
    return number;
}

ScratchEntry::ScratchEntry(HKEY hive)
    : hive_(hive), existed_(entry_exists(hive)), parent_existed_(key_exists(hive, uninstall_parent)) {}

ScratchEntry::~ScratchEntry() {
    if (existed_) return;
    (void)RegDeleteTreeW(hive_, entry_path);
    (void)RegDeleteKeyW(hive_, entry_path);
    // Fails while anything else lives under it, which is then left alone.
    if (!parent_existed_) (void)RegDeleteKeyW(hive_, uninstall_parent);
}

std::optional<std::string> ScratchEntry::unusable() const {
    if (existed_) {
        return std::string("an uninstall entry this test did not create already exists in HKEY_") +
               (hive_ == HKEY_CURRENT_USER ? "CURRENT_USER" : "LOCAL_MACHINE");
    }
    return std::nullopt;
}

bool ScratchEntry::create() {
    UniqueKey key;
    return !existed_ && RegCreateKeyExW(hive_, entry_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(),
                                        nullptr) == ERROR_SUCCESS;
}

bool ScratchEntry::set_string(const wchar_t* name, const std::wstring& text) {
    return !existed_ && set_value(hive_, name, REG_SZ, text.c_str(),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool ScratchEntry::set_dword(const wchar_t* name, DWORD value) {
    return !existed_ && set_value(hive_, name, REG_DWORD, &value, sizeof(value));
}

}  // namespace support
