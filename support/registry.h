#pragma once
// The application's real uninstall entry, as tests read it and guard it. Tests run in a private
// Wine prefix, but may also run on a developer's Windows where a real installation owns the entry:
// every test that can touch it goes through ScratchEntry.
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace support {

extern const wchar_t* const entry_path;  // Software\...\Uninstall\Vellomar, in either hive

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

bool entry_exists(HKEY hive);
// A value of the entry; nothing when the entry or the value is missing.
std::optional<StoredValue> read_value(HKEY hive, const wchar_t* name);
// A REG_SZ with its one terminating NUL; otherwise "<missing>", "<type N>" or "<unterminated>".
std::wstring read_string(HKEY hive, const wchar_t* name);
// A four-byte REG_DWORD; otherwise 0xFFFFFFFF.
DWORD read_dword(HKEY hive, const wchar_t* name);

// Claims the entry of one hive for one test. A test may use it only when it did not exist before
// (unusable() says why not, and the test skips). What the test then makes there, itself or through
// the helper or an installer, is deleted at the end, with the Uninstall key above it when that did
// not exist either. An entry someone else made is never touched.
class ScratchEntry {
public:
    explicit ScratchEntry(HKEY hive);
    ~ScratchEntry();
    ScratchEntry(const ScratchEntry&) = delete;
    ScratchEntry& operator=(const ScratchEntry&) = delete;

    std::optional<std::string> unusable() const;
    // The entry as an installer leaves it, before the helper's stamp; false when it cannot be made.
    [[nodiscard]] bool create();
    [[nodiscard]] bool set_string(const wchar_t* name, const std::wstring& text);
    [[nodiscard]] bool set_dword(const wchar_t* name, DWORD value);

private:
    HKEY hive_;
    bool existed_ = false;
    bool parent_existed_ = false;
};

}  // namespace support
