// Real packages' manifests, read as data: makensis's installers at three execution levels, the
// helper (no manifest at all), and files that are no program.
#include "platform/package_manifest.h"

#include <gtest/gtest.h>

#include "files.h"
#include "own_program.h"
#include "text_forms.h"

namespace {

TEST(PackageManifest, InstallersAskingForAdministratorRightsNeedElevation) {
    const std::wstring bin = support::own_directory();
    const support::ScratchDirectory scratch(L"manifest");
    const std::wstring text_file = scratch / L"setup.exe";
    ASSERT_TRUE(support::write_bytes(text_file, "MZ but not a program"));
    const struct {
        std::wstring path;
        bool requires_elevation;
    } cases[] = {
        {bin + L"execution-level-admin-setup.exe", true},
        {bin + L"execution-level-highest-setup.exe", true},
        {bin + L"vellomar-sample-1.0.0-setup.exe", false},  // RequestExecutionLevel user
        {bin + L"vellomar-update.exe", false},
        {text_file, false},
        {scratch / L"missing.exe", false},
        {scratch.path(), false},
    };
    if (!support::file_exists(cases[0].path)) GTEST_SKIP() << "makensis was not available";
    for (const auto& c : cases) {
        EXPECT_EQ(vellomar::package_requires_elevation(support::u16(c.path)), c.requires_elevation)
            << support::to_utf8(c.path);
    }
}

}  // namespace
