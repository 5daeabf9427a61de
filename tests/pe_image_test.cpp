// The built helper's PE image: a 64-bit GUI program with ASLR and DEP, no resources, imports from
// system DLLs only, so it runs alone from any folder, and within its size budget. Read from the file,
// not from the loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "helper_image.h"
#include "program_runs.h"

namespace {

using support::PeImage;
using support::is_system_dll;
using support::lower;
using support::read_pe_image;

std::string section_name(const IMAGE_SECTION_HEADER& section) {
    const char* name = reinterpret_cast<const char*>(section.Name);
    return std::string(name, strnlen(name, IMAGE_SIZEOF_SHORT_NAME));
}

class PeImageOfHelper : public testing::Test {
protected:
    void SetUp() override {
        image_ = read_pe_image(support::own_directory() + L"vellomar-update.exe");
        ASSERT_TRUE(image_.has_value()) << "vellomar-update.exe is missing or not a 64-bit PE image";
    }
    std::optional<PeImage> image_;
};

TEST_F(PeImageOfHelper, Is64BitGuiProgram) {
    EXPECT_EQ(image_->file.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(image_->optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST_F(PeImageOfHelper, HasAslrWithHighEntropyAndDep) {
    const WORD flags = image_->optional.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
}

TEST_F(PeImageOfHelper, CarriesNoResources) {
    const IMAGE_DATA_DIRECTORY resources = image_->optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE];
    EXPECT_EQ(resources.VirtualAddress, 0u);
    EXPECT_EQ(resources.Size, 0u);
    for (const IMAGE_SECTION_HEADER& section : image_->sections) {
        EXPECT_NE(section_name(section), ".rsrc");
    }
}

TEST_F(PeImageOfHelper, ImportsOnlySystemDlls) {
    const std::vector<std::string>& imports = image_->imports;
    EXPECT_NE(std::find_if(imports.begin(), imports.end(),
                           [](const std::string& name) { return lower(name) == "kernel32.dll"; }),
              imports.end())
        << "the import list was not read";
    for (const std::string& name : imports) {
        EXPECT_TRUE(is_system_dll(name)) << name;
    }
}

TEST_F(PeImageOfHelper, FitsTheSizeBudget) {
#if defined(__OPTIMIZE_SIZE__)
    EXPECT_LE(image_->file_size, support::helper_size_budget_kib * 1024);
#else
    GTEST_SKIP() << "the budget is for the size-optimised build (MinSizeRel)";
#endif
}

// The handover DLL that callers in other languages load: 64-bit, system DLLs only, and the four
// calls of its header as its only exports.
TEST(PeImageOfHandoverDll, ExportsExactlyTheFourCallsAndImportsOnlySystemDlls) {
    const std::optional<PeImage> image = read_pe_image(support::own_directory() + L"vellomar_handover.dll");
    ASSERT_TRUE(image.has_value()) << "vellomar_handover.dll is missing or not a 64-bit PE image";
    EXPECT_EQ(image->file.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_TRUE(image->file.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(image->exports, (std::vector<std::string>{"vellomar_can_update_silently", "vellomar_cancel_update",
                                                        "vellomar_start_update", "vellomar_update_outcome"}));
    for (const std::string& name : image->imports) {
        EXPECT_TRUE(is_system_dll(name)) << name;
    }
}

}  // namespace
