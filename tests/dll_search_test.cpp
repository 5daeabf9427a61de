// A DLL planted in the helper's folder must never be loaded. Each test copies a program into a fresh
// folder together with the planted DLL under the name uxtheme.dll, which system code loads by bare
// name when a process opens its first window, starts the copy from there, and looks for the marker
// the DLL leaves when it is loaded.
#include <gtest/gtest.h>

#include "files.h"
#include "platform/handles.h"
#include "probes.h"
#include "program_runs.h"

namespace {

const wchar_t* const planted_name = L"uxtheme.dll";

class DllSearch : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        ASSERT_TRUE(CopyFileW((support::own_directory() + L"planted_dll.dll").c_str(), (folder_ + planted_name).c_str(),
                              FALSE));
        if (support::running_under_wine()) prefer_native_uxtheme();
    }

    void TearDown() override {
        if (!wine_key_.empty()) (void)RegDeleteTreeW(HKEY_CURRENT_USER, wine_key_.c_str());
    }

    // Wine takes its builtin uxtheme.dll even when a file of that name lies in the exe's folder,
    // where Windows takes the file. This per-program override makes Wine follow the search order as
    // Windows does. (Wine reads WINEDLLOVERRIDES from the environment it was started with, so
    // setting that for a child has no effect.)
    void prefer_native_uxtheme() {
        wine_key_ = L"Software\\Wine\\AppDefaults\\" + copy_name_;
        vellomar::UniqueKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (wine_key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, key.receive(), nullptr),
                  ERROR_SUCCESS);
        const std::wstring order = L"native,builtin";
        ASSERT_EQ(RegSetValueExW(key.get(), L"uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(order.c_str()),
                                 static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    // Copies `program` from beside the tests into the planted folder and runs it from there, with the
    // folder as its current directory too, as when started from a download folder.
    support::RunResult run_planted(const std::wstring& program, const std::wstring& arguments) {
        const std::wstring copy = folder_ + copy_name_;
        if (!CopyFileW((support::own_directory() + program).c_str(), copy.c_str(), FALSE)) {
            ADD_FAILURE() << "cannot copy " << support::to_utf8(program) << " (error " << GetLastError() << ")";
            return {};
        }
        support::RunOptions options;
        options.current_directory = folder_;
        options.timeout_ms = 30000;
        return support::run_exact(copy, L"\"" + copy + L"\"" + arguments, options);
    }

    static std::wstring marker_name() { return std::wstring(planted_name) + L".loaded"; }
    bool planted_dll_was_loaded() const { return support::file_exists(folder_ + marker_name()); }

private:
    const support::ScratchDirectory scratch_{L"plant"};
    const std::wstring folder_ = scratch_.path() + L"\\";
    // The copy is named after the fresh folder, so the per-program setting below is ours alone.
    const std::wstring copy_name_ = scratch_.path().substr(scratch_.path().find_last_of(L'\\') + 1) + L".exe";
    std::wstring wine_key_;
};

// The control: a box shown without the restriction loads the planted file, so the marker shows a
// load and the helper's box below is the one that would make it.
TEST_F(DllSearch, BoxWithoutTheRestrictionLoadsTheDllFromTheProgramFolder) {
    const support::RunResult run = run_planted(L"dll_search_probe.exe", L"");
    ASSERT_TRUE(run.started) << "error " << run.start_error;
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.boxes.size(), 1u);
    EXPECT_TRUE(planted_dll_was_loaded());
}

// Without --pid the helper shows its error box at once: the box is its first window, which loads
// uxtheme.dll.
TEST_F(DllSearch, HelperIgnoresDllPlantedBesideIt) {
    const support::RunResult run = run_planted(L"vellomar-update.exe", L"");
    ASSERT_TRUE(run.started) << "error " << run.start_error;
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.boxes.size(), 1u);
    EXPECT_FALSE(planted_dll_was_loaded());
}

}  // namespace
