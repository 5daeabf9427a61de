// The real helper under Wine: what a caller sees for bad or odd command lines.
#include <gtest/gtest.h>

#include "probes.h"
#include "program_runs.h"

namespace {

const wchar_t* const missing_pid = L"更新助手参数无效（缺少进程号）";
const wchar_t* const invalid_pid = L"更新助手参数无效（进程号）";
const wchar_t* const missing_installer = L"更新助手参数无效（缺少安装包）";

using support::run_helper;

// The id of an application that has already exited, whose handle the test still holds: the helper
// goes on without the pause an id it cannot open costs.
class RealHelper : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(application_.process.valid()); }
    std::wstring pid() const { return std::to_wstring(application_.id); }
    const support::ExitedProcess application_ = support::exited_process();
};

void expect_one_error_box(const support::RunResult& result, const std::wstring& text, DWORD exit_code) {
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, exit_code);
    ASSERT_EQ(result.boxes.size(), 1u);
    EXPECT_EQ(result.boxes[0].caption, support::helper_caption);
    EXPECT_EQ(result.boxes[0].text, text);
    EXPECT_TRUE(result.boxes[0].error_icon);
    EXPECT_EQ(result.standard_error, "");
}

struct BadOptionsCase {
    const char* name;
    const wchar_t* tail;
    const wchar_t* message;
};

class BadOptions : public testing::TestWithParam<BadOptionsCase> {};

// One command line per message; the options' unit table has every case.
TEST_P(BadOptions, ShowExactlyOneBoxAndExitWithTwo) {
    expect_one_error_box(run_helper(GetParam().tail), GetParam().message, 2);
}

INSTANTIATE_TEST_SUITE_P(
    RealHelper, BadOptions,
    testing::Values(BadOptionsCase{"NoOptions", L"", missing_pid},
                    BadOptionsCase{"PidWithUnpairedSurrogate", L" --pid 5\xD800 --installer x", invalid_pid},
                    BadOptionsCase{"PidAlone", L" --pid 7", missing_installer}),
    [](const testing::TestParamInfo<BadOptionsCase>& info) { return std::string(info.param.name); });

// Accepted options meet the missing package only after the wait for the application and the 800 ms
// settling pause; the id may have a plus sign and leading zeros.
TEST_F(RealHelper, MissingPackageIsReportedWithItsPathAfterTheWaits) {
    const support::RunResult result = run_helper(L" --pid +000" + pid() + L" --installer \"C:\\no such\\setup.exe\"");
    expect_one_error_box(result, L"安装包不存在: C:\\no such\\setup.exe", 1);
    EXPECT_GE(result.elapsed_ms, 700u);
    EXPECT_LT(result.elapsed_ms, 20000u);
}

// The box shows the installer as the application passed it, but without the verbatim prefix and
// with U+FFFD for an unpaired surrogate.
TEST_F(RealHelper, MissingPackageIsShownAsText) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\x\xDC00y.exe", L"安装包不存在: C:\\x\xFFFDy.exe"},
        {L"\\\\?\\C:\\missing\\setup.exe", L"安装包不存在: C:\\missing\\setup.exe"},
    };
    for (const auto& [installer, message] : cases) {
        expect_one_error_box(run_helper(L" --pid " + pid() + L" --installer " + installer), message, 1);
    }
}

TEST_F(RealHelper, WithoutStandardHandlesBoxesAndExitCodesAreUnchanged) {
    support::RunOptions options;
    options.give_standard_error = false;
    const support::RunResult result = run_helper(L" --pid 7", options);
    expect_one_error_box(result, missing_installer, 2);
}

}  // namespace
