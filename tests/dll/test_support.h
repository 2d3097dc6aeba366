// Helpers shared by the module's Windows tests.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win_test_support.h"

namespace svtest {

// Sonavire.dll from the test executable's own folder (the build copies it there), loaded for the
// life of the object, with its four entry points.
class SonavireDll {
public:
    SonavireDll();
    ~SonavireDll();
    SonavireDll(const SonavireDll&) = delete;
    SonavireDll& operator=(const SonavireDll&) = delete;

    bool loaded() const { return module_ != nullptr; }
    HMODULE module() const { return module_; }
    std::wstring path() const;

    HRESULT CanUnloadNow() const { return canUnloadNow_(); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const { return getClassObject_(clsid, riid, ppv); }
    HRESULT RegisterServer() const { return registerServer_(); }
    HRESULT UnregisterServer() const { return unregisterServer_(); }

private:
    HMODULE module_ = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* registerServer_)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer_)() = nullptr;
};

// Registry inspection.
bool KeyExists(HKEY root, const std::wstring& path);
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path);
size_t SubkeyCount(HKEY root, const std::wstring& path);
bool ReadString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring& text);
bool ReadDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& value);

}  // namespace svtest
