// Test helper: the plug-in's registry key as registration makes it, and no user key of Sonavire's,
// both removed again afterwards. Tests that use it take the "registry" lock.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "settings/plugin_identity.h"

namespace svtest {

inline bool PluginKeyExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, sv::kPluginKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

inline void DeletePluginKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, sv::kPluginKey); }
inline void DeleteUserKey() { RegDeleteTreeW(HKEY_CURRENT_USER, sv::kUserSettingsKey); }

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring Text() const {
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }
};

class PluginKeyScope {
public:
    // Only these tests make the key in a test prefix, so one found now was left by a crashed run.
    PluginKeyScope() {
        DeletePluginKey();
        DeleteUserKey();
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, sv::kPluginKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        key_.reset(key);
    }
    ~PluginKeyScope() {
        key_.reset();
        DeletePluginKey();
        DeleteUserKey();
    }
    PluginKeyScope(const PluginKeyScope&) = delete;
    PluginKeyScope& operator=(const PluginKeyScope&) = delete;

    bool valid() const { return static_cast<bool>(key_); }

    void SetBytes(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    }
    void SetText(const wchar_t* name, const std::wstring& text) { SetText(key_.get(), name, text); }
    void SetDword(const wchar_t* name, DWORD value) { SetBytes(name, REG_DWORD, &value, sizeof(value)); }
    void Delete(const wchar_t* name) { RegDeleteValueW(key_.get(), name); }
    std::optional<StoredValue> Get(const wchar_t* name) const { return Get(key_.get(), name); }

    // The current user's own key (HKEY_CURRENT_USER), opened for each call.
    static bool UserKeyExists() { return static_cast<bool>(OpenUser(false)); }
    static void SetUserText(const wchar_t* name, const std::wstring& text) {
        SetText(OpenUser(true).get(), name, text);
    }
    static void SetUserBytes(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        RegSetValueExW(OpenUser(true).get(), name, 0, type, static_cast<const BYTE*>(data), size);
    }
    static void SetUserDword(const wchar_t* name, DWORD value) { SetUserBytes(name, REG_DWORD, &value, sizeof(value)); }
    static std::optional<StoredValue> GetUser(const wchar_t* name) { return Get(OpenUser(false).get(), name); }

private:
    static sv::UniqueHkey OpenUser(bool create) {
        HKEY key = nullptr;
        const LONG result = create ? RegCreateKeyExW(HKEY_CURRENT_USER, sv::kUserSettingsKey, 0, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, &key, nullptr)
                                   : RegOpenKeyExW(HKEY_CURRENT_USER, sv::kUserSettingsKey, 0, KEY_READ, &key);
        return sv::UniqueHkey(result == ERROR_SUCCESS ? key : nullptr);
    }
    static void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    static std::optional<StoredValue> Get(HKEY key, const wchar_t* name) {
        StoredValue value;
        DWORD size = 0;
        if (!key || RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        value.bytes.resize(size);
        if (RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size) != ERROR_SUCCESS)
            return std::nullopt;
        value.bytes.resize(size);
        return value;
    }

    sv::UniqueHkey key_;
};

}  // namespace svtest
