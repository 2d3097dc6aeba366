// Test helper: the plug-in's registry key as registration makes it, removed again afterwards.
// Tests that use it take the "registry" lock.
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
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, sv::kPluginKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        key_.reset(key);
    }
    ~PluginKeyScope() {
        key_.reset();
        DeletePluginKey();
    }
    PluginKeyScope(const PluginKeyScope&) = delete;
    PluginKeyScope& operator=(const PluginKeyScope&) = delete;

    bool valid() const { return static_cast<bool>(key_); }

    void SetBytes(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        RegSetValueExW(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    }
    void SetText(const wchar_t* name, const std::wstring& text) {
        SetBytes(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void SetDword(const wchar_t* name, DWORD value) { SetBytes(name, REG_DWORD, &value, sizeof(value)); }
    void Delete(const wchar_t* name) { RegDeleteValueW(key_.get(), name); }

    std::optional<StoredValue> Get(const wchar_t* name) const {
        StoredValue value;
        DWORD size = 0;
        if (RegQueryValueExW(key_.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        value.bytes.resize(size);
        if (RegQueryValueExW(key_.get(), name, nullptr, &value.type, value.bytes.data(), &size) != ERROR_SUCCESS)
            return std::nullopt;
        value.bytes.resize(size);
        return value;
    }

private:
    sv::UniqueHkey key_;
};

}  // namespace svtest
