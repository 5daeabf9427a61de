// A DLL planted in the helper's folder must never be loaded. Each test copies a program into a fresh
// folder together with the planted DLL under the name uxtheme.dll, which the first window of a
// process loads by bare name, starts it from there, and looks for the marker the DLL leaves when it
// is loaded.
#include <gtest/gtest.h>

#include <optional>

#include "probe_support.h"

namespace {

const wchar_t* const planted_name = L"uxtheme.dll";

std::optional<std::wstring> environment_variable(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class DllSearch : public testing::Test {
protected:
    // Wine takes its builtin uxtheme.dll even when a file of that name lies in the exe's folder;
    // Windows takes the file. The override makes Wine follow the search order as Windows does, and
    // means nothing to Windows. Children inherit it from this process's environment.
    void SetUp() override {
        saved_overrides_ = environment_variable(L"WINEDLLOVERRIDES");
        const std::wstring overrides = saved_overrides_ ? *saved_overrides_ + L";uxtheme=n,b" : L"uxtheme=n,b";
        ASSERT_TRUE(SetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides.c_str()));
        folder_ = probe::make_temp_directory(L"plant");
        ASSERT_FALSE(folder_.empty());
        folder_ += L"\\";
        ASSERT_TRUE(CopyFileW((probe::own_directory() + L"planted_dll.dll").c_str(), (folder_ + planted_name).c_str(),
                              FALSE));
    }

    void TearDown() override {
        (void)SetEnvironmentVariableW(L"WINEDLLOVERRIDES", saved_overrides_ ? saved_overrides_->c_str() : nullptr);
        for (const std::wstring& name : {program_, std::wstring(planted_name), marker_name()}) {
            if (!name.empty()) (void)DeleteFileW((folder_ + name).c_str());
        }
        (void)RemoveDirectoryW(folder_.c_str());
    }

    // Copies `program` from beside the tests into the planted folder and runs it from there, with the
    // folder as its current directory too, as when started from a download folder.
    probe::RunResult run_planted(const std::wstring& program, const std::wstring& arguments) {
        program_ = program;
        if (!CopyFileW((probe::own_directory() + program).c_str(), (folder_ + program).c_str(), FALSE)) {
            ADD_FAILURE() << "cannot copy " << probe::to_utf8(program) << " (error " << GetLastError() << ")";
            return {};
        }
        probe::RunOptions options;
        options.current_directory = folder_;
        options.timeout_ms = 30000;
        const std::wstring command_line = L"\"" + folder_ + program + L"\"" + arguments;
        return probe::run_exact(folder_ + program, command_line, options);
    }

    static std::wstring marker_name() { return std::wstring(planted_name) + L".loaded"; }
    bool planted_dll_was_loaded() const { return file_exists(folder_ + marker_name()); }

private:
    std::optional<std::wstring> saved_overrides_;
    std::wstring folder_;
    std::wstring program_;
};

// The control: without the restriction the planted file wins, so the marker really shows a load.
TEST_F(DllSearch, UnrestrictedBareNameLoadTakesDllFromProgramFolder) {
    const probe::RunResult run = run_planted(L"dll_search_probe.exe", L" uxtheme.dll");
    ASSERT_TRUE(run.started) << "error " << run.start_error;
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(planted_dll_was_loaded());
}

TEST_F(DllSearch, SystemOnlySearchIgnoresDllInProgramFolder) {
    const probe::RunResult run = run_planted(L"dll_search_probe.exe", L" --restricted uxtheme.dll");
    ASSERT_TRUE(run.started) << "error " << run.start_error;
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_FALSE(planted_dll_was_loaded());
}

// Without --pid the helper shows its error box at once: the box is its first window, which loads
// uxtheme.dll.
TEST_F(DllSearch, HelperIgnoresDllPlantedBesideIt) {
    const probe::RunResult run = run_planted(L"vellomar-update.exe", L"");
    ASSERT_TRUE(run.started) << "error " << run.start_error;
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.boxes.size(), 1u);
    EXPECT_FALSE(planted_dll_was_loaded());
}

}  // namespace
