// Identity of the plug-in: its class id, its registration key under the player's UIPlugins key, and
// the key of each user's own values.
#pragma once
#include <windows.h>

namespace sv {
// {6A1D3E52-9B47-4C08-B2F1-5E0C8D7A3F14}
inline constexpr CLSID CLSID_Sonavire = {0x6A1D3E52, 0x9B47, 0x4C08, {0xB2, 0xF1, 0x5E, 0x0C, 0x8D, 0x7A, 0x3F, 0x14}};
inline constexpr wchar_t kSonavireClsidText[] = L"{6A1D3E52-9B47-4C08-B2F1-5E0C8D7A3F14}";
inline constexpr wchar_t kUiPluginsKey[] = L"Software\\Microsoft\\MediaPlayer\\UIPlugins";
// HKEY_LOCAL_MACHINE; made by registration, only opened by the settings store.
inline constexpr wchar_t kPluginKey[] =
    L"Software\\Microsoft\\MediaPlayer\\UIPlugins\\{6A1D3E52-9B47-4C08-B2F1-5E0C8D7A3F14}";
// HKEY_CURRENT_USER; the user's sign-in, splitter position and translation, made on the first write.
inline constexpr wchar_t kUserSettingsKey[] = L"Software\\Sonavire";
}  // namespace sv
