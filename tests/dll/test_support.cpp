#include "test_support.h"

#include "base/win_handles.h"

namespace svtest {

SonavireDll::SonavireDll() {
    module_ = LoadLibraryW((ExecutableFolder() + L"Sonavire.dll").c_str());
    if (!module_) return;
    canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(GetProcAddress(module_, "DllCanUnloadNow"));
    getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(GetProcAddress(module_, "DllGetClassObject"));
    registerServer_ = reinterpret_cast<decltype(registerServer_)>(GetProcAddress(module_, "DllRegisterServer"));
    unregisterServer_ = reinterpret_cast<decltype(unregisterServer_)>(GetProcAddress(module_, "DllUnregisterServer"));
    if (!canUnloadNow_ || !getClassObject_ || !registerServer_ || !unregisterServer_) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

SonavireDll::~SonavireDll() {
    if (module_) FreeLibrary(module_);
}

std::wstring SonavireDll::path() const {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module_, path, MAX_PATH);
    return std::wstring(path, n);
}

bool KeyExists(HKEY root, const std::wstring& path) {
    sv::UniqueHkey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    sv::UniqueHkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

size_t SubkeyCount(HKEY root, const std::wstring& path) {
    sv::UniqueHkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    DWORD count = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    return count;
}

bool ReadString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring& text) {
    wchar_t buffer[1024];
    DWORD bytes = sizeof(buffer);
    DWORD type = 0;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_ANY, &type, buffer, &bytes) != ERROR_SUCCESS) return false;
    if (type != REG_SZ) return false;
    text.assign(buffer, bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return true;
}

bool ReadDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& value) {
    DWORD bytes = sizeof(value);
    DWORD type = 0;
    return RegGetValueW(root, path.c_str(), name, RRF_RT_ANY, &type, &value, &bytes) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

}  // namespace svtest
