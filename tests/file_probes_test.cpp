// The file probes on a real file system: plain, relative and over-long paths, a file held without
// sharing by another process, the unlock wait, and package deletion.
#include "platform/file_probes.h"
#include "platform/package_deletion.h"
#include "platform/path_forms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "files.h"
#include "platform/handles.h"
#include "platform/win32.h"
#include "probes.h"
#include "program_runs.h"

namespace vellomar {
namespace {

using support::u16;

bool exists_verbatim(const std::wstring& absolute) { return support::file_exists(L"\\\\?\\" + absolute); }

void create_file(const std::wstring& absolute, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const UniqueHandle file(CreateFileW((L"\\\\?\\" + absolute).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        attributes, nullptr));
    ASSERT_TRUE(file.valid()) << "error " << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), "MZ", 2, &written, nullptr));
}

class FileProbes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.empty());
        create_file(file_);
    }

    const support::ScratchDirectory scratch_{L"files"};
    const std::wstring dir_ = scratch_.path();
    const std::wstring file_ = dir_ + L"\\setup.exe";
};

TEST_F(FileProbes, PlainFileIsAnExistingRegularFile) {
    const std::optional<FileFacts> facts = probe_existing(u16(file_));
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->attributes & attribute_directory, 0u);
    EXPECT_TRUE(path_exists(u16(file_)));
    EXPECT_TRUE(is_existing_regular_file(u16(file_)));
}

TEST_F(FileProbes, ReadOnlyFileIsAnExistingRegularFile) {
    const std::wstring read_only = dir_ + L"\\read-only.exe";
    create_file(read_only, FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(is_existing_regular_file(u16(read_only)));
}

TEST_F(FileProbes, DirectoryExistsButIsNotARegularFile) {
    for (const std::wstring& path : {dir_, dir_ + L"\\", dir_ + L"\\."}) {
        const std::optional<FileFacts> facts = probe_existing(u16(path));
        ASSERT_TRUE(facts.has_value()) << support::to_utf8(path);
        EXPECT_NE(facts->attributes & attribute_directory, 0u);
        EXPECT_TRUE(path_exists(u16(path)));
        EXPECT_FALSE(is_existing_regular_file(u16(path)));
    }
}

TEST_F(FileProbes, MissingPathsAreAbsent) {
    for (const std::wstring& path : {dir_ + L"\\missing.exe", dir_ + L"\\missing\\setup.exe", file_ + L"\\x",
                                     std::wstring()}) {
        EXPECT_FALSE(probe_existing(u16(path)).has_value()) << support::to_utf8(path);
        EXPECT_FALSE(path_exists(u16(path)));
        EXPECT_FALSE(is_existing_regular_file(u16(path)));
    }
}

TEST_F(FileProbes, ShortAbsoluteAndVerbatimPathsArePassedAsGiven) {
    EXPECT_EQ(support::wide(file_system_path(u16(file_))), file_);
    EXPECT_EQ(support::wide(file_system_path(u"\\\\?\\" + u16(file_))), L"\\\\?\\" + file_);
    EXPECT_EQ(support::wide(file_system_path(u"\\\\server\\share\\setup.exe")), L"\\\\server\\share\\setup.exe");
    EXPECT_TRUE(is_existing_regular_file(u"\\\\?\\" + u16(file_)));
}

TEST_F(FileProbes, PathsLongerThanMaxPathAreProbedAndDeleted) {
    std::wstring deep = dir_;
    while (deep.size() < 320) {
        deep += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) << "error " << GetLastError();
    }
    const std::wstring long_file = deep + L"\\setup.exe";
    create_file(long_file, FILE_ATTRIBUTE_READONLY);
    ASSERT_GT(long_file.size(), static_cast<size_t>(MAX_PATH));

    EXPECT_EQ(support::wide(file_system_path(u16(long_file))), L"\\\\?\\" + long_file);
    EXPECT_TRUE(is_existing_regular_file(u16(long_file)));
    EXPECT_TRUE(path_exists(u16(deep)));
    EXPECT_FALSE(is_existing_regular_file(u16(deep)));
    EXPECT_FALSE(path_exists(u16(deep + L"\\missing.exe")));

    const std::wstring writable = deep + L"\\app.exe";
    create_file(writable);
    const std::uint64_t start = support::epoch_ms();
    wait_for_file_unlock(u16(writable), 15, 200);
    EXPECT_LT(support::epoch_ms() - start, 1000u);

    delete_package(u16(long_file));
    EXPECT_FALSE(exists_verbatim(long_file));
    EXPECT_TRUE(exists_verbatim(deep));
}

TEST_F(FileProbes, FileHeldWithoutSharingStillExists) {
    const support::FileLock lock(file_, 20000);
    ASSERT_TRUE(lock.wait_until_taken());
    EXPECT_TRUE(path_exists(u16(file_)));
    EXPECT_TRUE(is_existing_regular_file(u16(file_)));
}

TEST_F(FileProbes, UnlockWaitEndsWithTheLockOrAtItsLimit) {
    struct UnlockCase {
        const char* name;
        std::wstring path;
        DWORD hold_ms;  // another process holds the file without sharing this long; 0: nobody does
        std::uint64_t limit_seconds;
        std::uint64_t min_ms, max_ms;  // from the start of the hold, or else of the wait
    };
    const UnlockCase cases[] = {
        {"lock released after 2 s", file_, 2000, 15, 1900, 8000},
        {"unlocked file", file_, 0, 15, 0, 1000},
        {"directory, which never opens for writing", dir_, 0, 2, 1900, 6000},
    };
    for (const UnlockCase& c : cases) {
        std::optional<support::FileLock> lock;
        std::uint64_t start = support::epoch_ms();
        if (c.hold_ms > 0) {
            lock.emplace(c.path, c.hold_ms);
            ASSERT_TRUE(lock->wait_until_taken()) << c.name;
            // The probe took the lock after it was started, so the lock lasted at least until then + hold_ms.
            start = lock->started_ms();
        }
        wait_for_file_unlock(u16(c.path), c.limit_seconds, 200);
        const std::uint64_t elapsed = support::epoch_ms() - start;
        EXPECT_GE(elapsed, c.min_ms) << c.name;
        EXPECT_LT(elapsed, c.max_ms) << c.name;
    }
}

// Each row's package is its own file; the fixture's file and directory must survive every row.
TEST_F(FileProbes, PackageDeletionTakesOnlyAFileNobodyHolds) {
    struct DeleteCase {
        const char* name;
        std::wstring path;
        DWORD attributes;  // of a file made at `path` first; 0: nothing is made
        bool held;         // another process holds it open without sharing meanwhile
        bool remains;
    };
    const DeleteCase cases[] = {
        {"package", dir_ + L"\\package.exe", FILE_ATTRIBUTE_NORMAL, false, false},
        {"read-only package", dir_ + L"\\read-only.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, false,
         false},
        {"package held without sharing", dir_ + L"\\held.exe", FILE_ATTRIBUTE_NORMAL, true, true},
        {"missing package", dir_ + L"\\missing.exe", 0, false, false},
        {"package in a missing directory", dir_ + L"\\missing\\setup.exe", 0, false, false},
        {"empty path", L"", 0, false, false},
        {"directory", dir_, 0, false, true},
    };
    for (const DeleteCase& c : cases) {
        if (c.attributes != 0) {
            create_file(c.path, c.attributes);
        }
        std::optional<support::FileLock> lock;
        if (c.held) {
            lock.emplace(c.path, 20000);
            ASSERT_TRUE(lock->wait_until_taken()) << c.name;
        }
        delete_package(u16(c.path));
        lock.reset();
        EXPECT_EQ(exists_verbatim(c.path), c.remains) << c.name;
        EXPECT_TRUE(exists_verbatim(file_)) << c.name;
        EXPECT_TRUE(exists_verbatim(dir_)) << c.name;
    }
}

// Links are followed by the probes, and a package that is a link goes without its target.
TEST_F(FileProbes, SymbolicLinksAreFollowed) {
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    const std::wstring file_link = dir_ + L"\\file-link.exe";
    const std::wstring dir_link = dir_ + L"\\dir-link";
    const std::wstring dangling = dir_ + L"\\dangling.exe";
    (void)CreateSymbolicLinkW(file_link.c_str(), file_.c_str(), unprivileged);
    if (GetFileAttributesW(file_link.c_str()) == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "symbolic links cannot be made here (Wine's CreateSymbolicLinkW creates nothing; "
                        "Windows needs developer mode or the privilege); the link decisions are covered by "
                        "the FileKind tables";
    }
    ASSERT_TRUE(CreateSymbolicLinkW(dir_link.c_str(), dir_.c_str(), unprivileged | SYMBOLIC_LINK_FLAG_DIRECTORY));
    ASSERT_TRUE(CreateSymbolicLinkW(dangling.c_str(), (dir_ + L"\\nowhere.exe").c_str(), unprivileged));

    EXPECT_TRUE(is_existing_regular_file(u16(file_link)));
    EXPECT_TRUE(path_exists(u16(dir_link)));
    EXPECT_FALSE(is_existing_regular_file(u16(dir_link)));
    EXPECT_FALSE(path_exists(u16(dangling)));

    delete_package(u16(file_link));
    EXPECT_EQ(GetFileAttributesW(file_link.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(exists_verbatim(file_));
}

}  // namespace
}  // namespace vellomar
