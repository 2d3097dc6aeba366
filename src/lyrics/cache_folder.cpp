// The current user's cache folder, under their local application data: each user's cache is their
// own, and a standard user cannot plant files in another user's.
#include "lyrics/lyrics_document.h"

#include <shlobj.h>

#include <memory>

#include "base/hresult.h"
#include "base/utf.h"

namespace sv {
namespace {

// FOLDERID_LocalAppData {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}, our own copy: MinGW's links only
// where the known-folder ids are defined into the module.
constexpr KNOWNFOLDERID kLocalAppDataFolder = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};

std::u16string FindUserCacheFolder() {
    PWSTR path = nullptr;
    // No check that it exists: that would touch the disk, and the first write makes what is missing.
    const HRESULT hr = SHGetKnownFolderPath(kLocalAppDataFolder, KF_FLAG_DONT_VERIFY, nullptr, &path);
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> found(path, &CoTaskMemFree);
    std::u16string folder;
    if (SUCCEEDED(hr) && found && found.get()[0] != L'\0') {
        folder = AsU16(found.get());
        if (folder.back() != u'\\') folder += u'\\';
        folder += u"Sonavire\\Cache";
    } else {
        ReportFailure("cache folder", FAILED(hr) ? hr : E_FAIL);
    }
    return folder;
}

// Found once per load of the module, by whichever thread asks first.
INIT_ONCE g_cacheFolderOnce = INIT_ONCE_STATIC_INIT;
std::u16string g_cacheFolder;

// Called by the system: nothing may be thrown through it. Out of memory leaves no folder, and then
// nothing is cached.
BOOL CALLBACK FindCacheFolderOnce(PINIT_ONCE, PVOID, PVOID*) {
    CallbackBoundary("cache folder", [] { g_cacheFolder = FindUserCacheFolder(); });
    return TRUE;
}

}  // namespace

const std::u16string& UserCacheFolder() {
    InitOnceExecuteOnce(&g_cacheFolderOnce, FindCacheFolderOnce, nullptr, nullptr);
    return g_cacheFolder;
}

}  // namespace sv
