// Registration with the player: the registry entries that make Windows Media Player list the
// plug-in, the check for a running player, and the broadcast that makes running players rescan.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace sv {

// How a key is treated, as in a registrar script: a NoRemove key is made when missing and never
// deleted; a ForceRemove key is deleted with everything below it before it is written again, and
// deleted on unregistration; a key inside a ForceRemove key is written and goes with its parent.
enum class KeyRule { kNoRemove, kForceRemove, kInsideForceRemove };

struct RegistryValueEntry {
    const wchar_t* name;  // null: the key's default value
    DWORD type;           // REG_SZ or REG_DWORD
    std::wstring text;    // REG_SZ data
    DWORD number;         // REG_DWORD data
};

struct RegistryKeyEntry {
    HKEY root;
    std::wstring path;
    KeyRule rule;
    std::vector<RegistryValueEntry> values;
};

// The entries of the plug-in's class, with modulePath as the in-process server.
std::vector<RegistryKeyEntry> PluginRegistryEntries(const std::wstring& modulePath);

// Writes (install) or removes the entries. Registration fails before writing anything when the
// module's path does not fit 259 characters (HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)); a
// registration that fails part-way removes what it wrote, so no half entry stays behind.
HRESULT RunRegistrar(HINSTANCE module, bool install);

// The running player's top-level window ("WMPlayerApp", "Windows Media Player"), or null.
HWND FindRunningPlayer();

// Posts "WMPlayer_PluginAddRemove" to every top-level window.
void AnnouncePluginChange();

// DllRegisterServer: tells the user that a running player will be closed and closes it, writes the
// entries, announces the change whatever the result, and returns the registrar's result.
HRESULT RegisterServer(HINSTANCE module);
// DllUnregisterServer: removes the entries and announces the change.
HRESULT UnregisterServer(HINSTANCE module);

}  // namespace sv
