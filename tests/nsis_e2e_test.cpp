// A real update with real installers, in the layout an application ships: the sample application
// v1 is installed by its NSIS installer with the helper beside it, runs, hands over to that helper
// through the handover library, and v2 must end up installed, stamped, running and told that it
// was updated.
#include <gtest/gtest.h>

#include "files.h"
#include "probes.h"
#include "program_runs.h"
#include "scratch_entry_test.h"

namespace {

// The installers write the entry; the fixture removes it again.
class RealInstaller : public support::ScratchEntryTest {};

TEST_F(RealInstaller, SampleApplicationIsUpdatedFromOneToTwo) {
    const std::wstring bin = support::own_directory();
    const std::wstring setup_v1 = bin + L"vellomar-sample-1.0.0-setup.exe";
    const std::wstring setup_v2 = bin + L"vellomar-sample-2.1.0-setup.exe";
    if (!support::file_exists(setup_v1)) GTEST_SKIP() << "makensis was not available";

    const support::ScratchDirectory base(L"nsis");
    const std::wstring install_dir = base / L"Vellomar Sample";
    const std::wstring download_dir = base / L"download dir";
    ASSERT_TRUE(CreateDirectoryW(download_dir.c_str(), nullptr));
    const std::wstring package = download_dir + L"\\vellomar-sample-2.1.0-setup.exe";
    ASSERT_TRUE(CopyFileW(setup_v2.c_str(), package.c_str(), FALSE));

    // v1 is installed the way a user's machine has it: silently, into a directory with spaces.
    const support::RunResult install = support::run_exact(setup_v1, L"\"" + setup_v1 + L"\" /S /D=" + install_dir);
    ASSERT_EQ(install.exit_code, 0u);
    EXPECT_EQ(support::read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"1.0.0");
    const std::wstring app = install_dir + L"\\sample-app.exe";
    const std::wstring log = install_dir + L"\\sample-app.log";

    EXPECT_EQ(support::read_bytes(install_dir + L"\\vellomar-update.exe"), support::read_bytes(support::helper_path()));

    // v1 hands over to its installed helper and exits; the watch catches any box the helper might show.
    support::BoxWatch watch(0, support::helper_caption);
    const support::RunResult handover =
        support::run_exact(app, L"\"" + app + L"\" --update \"" + package + L"\" 2.1.0.7");
    ASSERT_EQ(handover.exit_code, 0u);
    // The application's log holds v2's start and, after it, its outcome and running lines.
    std::string updated;
    (void)support::poll_until(
        [&] {
            updated = support::read_bytes(log);
            const size_t at = updated.find("started 2.1.0.7 ");
            return at != std::string::npos && updated.find("\nrunning\n", at) != std::string::npos;
        },
        30000);
    const std::vector<support::MessageBoxRecord> boxes = watch.stop();

    EXPECT_TRUE(boxes.empty());
    ASSERT_NE(updated.find("started 1.0.0"), std::string::npos) << updated;
    ASSERT_NE(updated.find("\nupdate 2.1.0.7 "), std::string::npos) << updated;
    // The new version runs from its directory, started by the helper, and knows it was updated.
    const std::string install_dir_utf8 = support::to_utf8(install_dir);
    EXPECT_NE(updated.find(install_dir_utf8 + "\nupdated 2.1.0.7\nrunning\n", updated.find("started 2.1.0.7 ")),
              std::string::npos)
        << updated;

    EXPECT_EQ(support::read_bytes(install_dir + L"\\version.txt"), "2.1.0");
    EXPECT_EQ(support::read_bytes(app), support::read_bytes(bin + L"sample_app_v2.exe"));
    // The helper's stamp over the installer's 2.1.0.
    EXPECT_EQ(support::read_string(HKEY_CURRENT_USER, L"DisplayVersion"), L"2.1.0.7");
    EXPECT_EQ(support::read_dword(HKEY_CURRENT_USER, L"VersionMajor"), 2u);
    EXPECT_EQ(support::read_dword(HKEY_CURRENT_USER, L"VersionMinor"), 1u);
    EXPECT_FALSE(support::file_exists(package)) << "the package was not deleted";

    // Let v2 end before its directory goes.
    EXPECT_TRUE(support::write_bytes(install_dir + L"\\quit", "\n"));
    Sleep(300);
}

}  // namespace
