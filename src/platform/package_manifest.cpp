#include "platform/package_manifest.h"

#include "core/manifest.h"
#include "platform/handles.h"
#include "platform/path_forms.h"
#include "platform/win32.h"

namespace vellomar {

namespace {

void free_module(HMODULE module) {
    close_keeping_last_error<HMODULE, FreeLibrary>(module);
}
using UniqueModule = UniqueOwner<HMODULE, free_module, 0>;

// The manifest Windows reads when it creates a process from the file.
constexpr WORD process_manifest_id = 1;

}  // namespace

bool package_requires_elevation(std::u16string_view package) {
    // As a data file and an image resource: mapped for its resources only, nothing of it runs and
    // no DLL it names is loaded.
    const UniqueModule module(LoadLibraryExW(as_wcstr(file_system_path(package)), nullptr,
                                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module.valid()) {
        return false;
    }
    HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(process_manifest_id), MAKEINTRESOURCEW(24));
    if (resource == nullptr) {
        return false;
    }
    const DWORD size = SizeofResource(module.get(), resource);
    HGLOBAL loaded = LoadResource(module.get(), resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0) {
        return false;
    }
    return manifest_requires_elevation(std::string_view(static_cast<const char*>(data), size));
}

}  // namespace vellomar
