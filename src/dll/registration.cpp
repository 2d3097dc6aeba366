#include "dll/registration.h"

#include "base/win_handles.h"
#include "base/wmp_plugin_ui.h"
#include "settings/plugin_identity.h"
#include "resources/resource_ids.h"

namespace sv {
namespace {

constexpr DWORD kTextBufferChars = 260;

HRESULT ModulePath(HINSTANCE module, std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
    // A path that fills the buffer has been cut; registering a cut path would name another file.
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

HRESULT DeleteKeyTree(HKEY root, const std::wstring& path) {
    const LSTATUS status = RegDeleteTreeW(root, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return S_OK;
    return HRESULT_FROM_WIN32(status);
}

HRESULT WriteValue(HKEY key, const RegistryValueEntry& value) {
    LSTATUS status;
    if (value.type == REG_DWORD) {
        status = RegSetValueExW(key, value.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                                sizeof(value.number));
    } else {
        const DWORD bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
        status = RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()), bytes);
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT WriteEntries(const std::vector<RegistryKeyEntry>& entries) {
    for (const RegistryKeyEntry& entry : entries) {
        if (entry.rule == KeyRule::kForceRemove) {
            HRESULT hr = DeleteKeyTree(entry.root, entry.path);
            if (FAILED(hr)) return hr;
        }
        UniqueHkey key;
        const REGSAM access = entry.values.empty() ? KEY_READ : KEY_WRITE;
        const LSTATUS status =
            RegCreateKeyExW(entry.root, entry.path.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr);
        if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
        for (const RegistryValueEntry& value : entry.values) {
            HRESULT hr = WriteValue(key.get(), value);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

// Removes every ForceRemove key; keys inside them go with them, NoRemove keys stay. Every key is
// tried even after a failure, and the first failure is returned.
HRESULT RemoveEntries(const std::vector<RegistryKeyEntry>& entries) {
    HRESULT result = S_OK;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->rule != KeyRule::kForceRemove) continue;
        HRESULT hr = DeleteKeyTree(entry->root, entry->path);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

std::wstring LoadText(HINSTANCE module, UINT id) {
    wchar_t buffer[kTextBufferChars] = {};
    LoadStringW(module, id, buffer, kTextBufferChars);
    return buffer;
}

// The user is told that a running player will be closed; it is closed once they have read that.
void ClosePlayerForRegistration(HINSTANCE module) {
    HWND player = FindRunningPlayer();
    if (!player) return;
    const std::wstring text = LoadText(module, IDS_CLOSE_PLAYER_NOTICE);
    const std::wstring caption = LoadText(module, IDS_PLUGIN_NAME);
    MessageBoxW(GetActiveWindow(), text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
    // Ends the player's message loop. The window may have gone while the box was open.
    if (IsWindow(player)) PostMessageW(player, WM_QUIT, 0, 0);
}

}  // namespace

std::vector<RegistryKeyEntry> PluginRegistryEntries(const std::wstring& modulePath) {
    const std::wstring classKey = std::wstring(L"CLSID\\") + kSonavireClsidText;
    const std::wstring pluginKey = std::wstring(L"SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins\\") + kSonavireClsidText;
    const std::wstring resourcePrefix = L"res://Sonavire.dll/RT_STRING/#";
    return {
        {HKEY_CLASSES_ROOT, L"CLSID", KeyRule::kNoRemove, {}},
        {HKEY_CLASSES_ROOT, classKey, KeyRule::kForceRemove, {{nullptr, REG_SZ, L"Sonavire Class", 0}}},
        {HKEY_CLASSES_ROOT,
         classKey + L"\\InprocServer32",
         KeyRule::kInsideForceRemove,
         {{nullptr, REG_SZ, modulePath, 0}, {L"ThreadingModel", REG_SZ, L"Apartment", 0}}},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE", KeyRule::kNoRemove, {}},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", KeyRule::kNoRemove, {}},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\MediaPlayer", KeyRule::kNoRemove, {}},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins", KeyRule::kNoRemove, {}},
        {HKEY_LOCAL_MACHINE,
         pluginKey,
         KeyRule::kForceRemove,
         {{L"FriendlyName", REG_SZ, resourcePrefix + std::to_wstring(IDS_PLUGIN_NAME), 0},
          {L"Description", REG_SZ, resourcePrefix + std::to_wstring(IDS_PLUGIN_DESCRIPTION), 0},
          {L"Capabilities", REG_DWORD, L"", kSettingsAreaAutorunCapabilities}}},
    };
}

HRESULT RunRegistrar(HINSTANCE module, bool install) {
    // Removal needs no path: the keys are named by the class id alone.
    if (!install) return RemoveEntries(PluginRegistryEntries(std::wstring()));
    std::wstring modulePath;
    HRESULT hr = ModulePath(module, modulePath);
    if (FAILED(hr)) return hr;
    const std::vector<RegistryKeyEntry> entries = PluginRegistryEntries(modulePath);
    hr = WriteEntries(entries);
    if (FAILED(hr)) RemoveEntries(entries);
    return hr;
}

HWND FindRunningPlayer() { return FindWindowW(kPlayerWindowClass, kPlayerWindowTitle); }

void AnnouncePluginChange() {
    const UINT message = RegisterWindowMessageW(kPluginAddRemoveMessage);
    if (message != 0) PostMessageW(HWND_BROADCAST, message, 0, 0);
}

HRESULT RegisterServer(HINSTANCE module) {
    ClosePlayerForRegistration(module);
    const HRESULT hr = RunRegistrar(module, true);
    AnnouncePluginChange();
    return hr;
}

HRESULT UnregisterServer(HINSTANCE module) {
    const HRESULT hr = RunRegistrar(module, false);
    AnnouncePluginChange();
    return hr;
}

}  // namespace sv
