// A real update with real installers: the sample application v1 is installed by its NSIS installer,
// runs, hands over to the helper the way an application does, and v2 must end up installed,
// stamped and running.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "probe_support.h"

namespace {

const wchar_t* const entry_path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellomar";

std::string read_bytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::wstring registry_string(const wchar_t* name) {
    wchar_t buffer[256];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, entry_path, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return buffer;
}

DWORD registry_dword(const wchar_t* name) {
    DWORD value = 0xFFFFFFFF;
    DWORD size = sizeof(value);
    (void)RegGetValueW(HKEY_CURRENT_USER, entry_path, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

// Waits until the application's log holds `first` and, somewhere after it, `then`.
std::string wait_for_log(const std::wstring& log, const std::string& first, const std::string& then, DWORD limit_ms) {
    const std::uint64_t deadline = probe::now_ms() + limit_ms;
    std::string content = read_bytes(log);
    const auto complete = [&] {
        const size_t at = content.find(first);
        return at != std::string::npos && content.find(then, at) != std::string::npos;
    };
    while (!complete() && probe::now_ms() < deadline) {
        Sleep(100);
        content = read_bytes(log);
    }
    return content;
}

TEST(RealInstaller, SampleApplicationIsUpdatedFromOneToTwo) {
    const std::wstring bin = probe::own_directory();
    const std::wstring setup_v1 = bin + L"vellomar-sample-1.0.0-setup.exe";
    const std::wstring setup_v2 = bin + L"vellomar-sample-2.1.0-setup.exe";
    if (GetFileAttributesW(setup_v1.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "makensis was not available";

    const std::wstring base = probe::make_temp_directory(L"nsis");
    const std::wstring install_dir = base + L"\\Vellomar Sample";
    const std::wstring download_dir = base + L"\\download dir";
    CreateDirectoryW(download_dir.c_str(), nullptr);
    const std::wstring package = download_dir + L"\\vellomar-sample-2.1.0-setup.exe";
    ASSERT_TRUE(CopyFileW(setup_v2.c_str(), package.c_str(), FALSE));
    (void)RegDeleteTreeW(HKEY_CURRENT_USER, entry_path);

    // v1 is installed the way a user's machine has it: silently, into a directory with spaces.
    const probe::RunResult install =
        probe::run_exact(setup_v1, L"\"" + setup_v1 + L"\" /S /D=" + install_dir);
    ASSERT_EQ(install.exit_code, 0u);
    EXPECT_EQ(registry_string(L"DisplayVersion"), L"1.0.0");
    const std::wstring app = install_dir + L"\\sample-app.exe";
    const std::wstring log = install_dir + L"\\sample-app.log";

    // v1 hands over to the helper and exits; the watch catches any box the helper might show.
    probe::BoxWatch watch(0, probe::helper_caption);
    const probe::RunResult handover = probe::run_exact(
        app, L"\"" + app + L"\" --update \"" + package + L"\" 2.1.0.7 --helper \"" + bin + L"vellomar-update.exe\"");
    ASSERT_EQ(handover.exit_code, 0u);
    const std::string updated = wait_for_log(log, "started 2.1.0 ", "\nrunning\n", 30000);
    const std::vector<probe::MessageBoxRecord> boxes = watch.stop();

    EXPECT_TRUE(boxes.empty());
    ASSERT_NE(updated.find("started 1.0.0"), std::string::npos) << updated;
    ASSERT_NE(updated.find("\nupdate 2.1.0.7 "), std::string::npos) << updated;
    // The new version runs from its directory, started by the helper.
    const std::string install_dir_utf8 = probe::to_utf8(install_dir);
    EXPECT_NE(updated.find("started 2.1.0 "), std::string::npos) << updated;
    EXPECT_NE(updated.find(install_dir_utf8 + "\nrunning\n", updated.find("started 2.1.0")), std::string::npos)
        << updated;

    EXPECT_EQ(read_bytes(install_dir + L"\\version.txt"), "2.1.0");
    EXPECT_EQ(read_bytes(app), read_bytes(bin + L"sample_app_v2.exe"));
    EXPECT_EQ(registry_string(L"DisplayVersion"), L"2.1.0.7");  // the helper's stamp over the installer's 2.1.0
    EXPECT_EQ(registry_dword(L"VersionMajor"), 2u);
    EXPECT_EQ(registry_dword(L"VersionMinor"), 1u);
    EXPECT_EQ(GetFileAttributesW(package.c_str()), INVALID_FILE_ATTRIBUTES) << "the package was not deleted";

    // Let v2 end, and leave no entry behind for other tests.
    std::ofstream((install_dir + L"\\quit").c_str()).put('\n');
    Sleep(300);
    (void)RegDeleteTreeW(HKEY_CURRENT_USER, entry_path);
    (void)RegDeleteKeyW(HKEY_CURRENT_USER, entry_path);
}

}  // namespace
