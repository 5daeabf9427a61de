#include "core/system_message.h"

#include <gtest/gtest.h>

namespace vellomar {
namespace {

struct TextCase {
    std::u16string input;
    std::u16string expected;
};

TEST(OsErrorPieces, FailedLookupNamesBothCodesAsSignedDecimals) {
    EXPECT_EQ(format_failure_message(12345, 317), u"OS Error 12345 (FormatMessageW() returned error 317)");
    EXPECT_EQ(format_failure_message(0xC0000005, 0xFFFFFFFF),
              u"OS Error -1073741819 (FormatMessageW() returned error -1)");
}

TEST(OsErrorPieces, SystemMessageLosesOnlyTrailingLayoutCharacters) {
    const TextCase cases[] = {
        {u"File not found.\r\n", u"File not found."},
        {u"x \t\n\f\r", u"x"},
        {u"x\v\r\n", u"x\v"},
        {u"%1 is not valid.\r\n", u"%1 is not valid."},
        {u"  lead stays", u"  lead stays"},
        {u" \r\n", u""},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(system_message(c.input, 5), c.expected) << testing::PrintToString(c.input);
    }
}

TEST(OsErrorPieces, UnpairedSurrogateGivesTheInvalidUtf16Form) {
    EXPECT_EQ(system_message(u"bad \xD800 text\r\n", 0xC0000005),
              u"OS Error -1073741819 (FormatMessageW() returned invalid UTF-16)");
}

TEST(OsErrorPieces, SuffixCarriesTheCodeAsSignedDecimal) {
    EXPECT_EQ(with_os_error_suffix(u"Access denied.", 5), u"Access denied. (os error 5)");
    EXPECT_EQ(with_os_error_suffix(u"m", 0xD0000005), u"m (os error -805306363)");
}

}  // namespace
}  // namespace vellomar
