#include "settings/settings.h"

#include "settings/plugin_identity.h"

#include <atomic>
#include <cwchar>
#include <memory>

namespace sv {
namespace {

UniqueHkey OpenPluginKey(REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, access, &key) != ERROR_SUCCESS) return {};
    return UniqueHkey(key);
}

bool FitsTextField(std::wstring_view text) {
    return text.size() <= kSettingTextMaxLength && text.find(L'\0') == std::wstring_view::npos;
}

// Reads at most 520 bytes, as the fields hold. A stored text need not carry its terminator, so the
// buffer has one spare unit and the length is taken up to the first NUL within what was read.
std::optional<std::wstring> QueryTextValue(HKEY key, const wchar_t* valueName) {
    wchar_t buffer[kSettingTextChars + 1] = {};
    DWORD size = kSettingTextChars * sizeof(wchar_t);
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return std::nullopt;
    const size_t length = wcsnlen(buffer, size / sizeof(wchar_t));
    if (length > kSettingTextMaxLength) return std::nullopt;  // 260 units and no terminator
    return std::wstring(buffer, length);
}

void SetTextValue(HKEY key, const wchar_t* valueName, const wchar_t* text) {
    const DWORD bytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

void CopyToField(wchar_t (&field)[kSettingTextChars], std::wstring_view text) {
    const size_t length = text.size() < kSettingTextMaxLength ? text.size() : kSettingTextMaxLength;
    text.copy(field, length);
    field[length] = L'\0';
}

HFONT MakeTahoma(int height, int weight, bool underline) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE, 0, 0, 0, CLEARTYPE_QUALITY, 0,
                       L"Tahoma");
}

// Constant-initialised, so usable whatever the order of static construction.
SRWLOCK g_settingsLock = SRWLOCK_INIT;
std::atomic<PluginSettings*> g_settings{nullptr};

}  // namespace

PluginSettings::PluginSettings() { CopyToField(deviceText, kDeviceText); }

void PluginSettings::LoadSettings() {
    UniqueHkey key = OpenPluginKey(KEY_READ);
    if (!key) return;
    if (auto text = QueryTextValue(key.get(), kUserNameValue)) CopyToField(userName, *text);
    if (auto text = QueryTextValue(key.get(), kPasswordValue)) CopyToField(password, *text);
    DWORD value = 0;
    DWORD size = sizeof(value);
    // Exactly four bytes, whatever the type; anything else leaves the default.
    if (RegQueryValueExW(key.get(), kSplitPosValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        size == sizeof(value))
        splitPos = static_cast<int32_t>(value);
}

void PluginSettings::SaveSettings() const {
    UniqueHkey key = OpenPluginKey(KEY_WRITE);
    if (!key) return;
    SetTextValue(key.get(), kUserNameValue, userName);
    SetTextValue(key.get(), kPasswordValue, password);
    const DWORD value = static_cast<DWORD>(splitPos);
    RegSetValueExW(key.get(), kSplitPosValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegFlushKey(key.get());
}

bool PluginSettings::SetCredentials(std::wstring_view newUserName, std::wstring_view newPassword) {
    if (!FitsTextField(newUserName) || !FitsTextField(newPassword)) return false;
    CopyToField(userName, newUserName);
    CopyToField(password, newPassword);
    SaveSettings();
    return true;
}

bool PluginSettings::IsSignedIn() const { return userName[0] != L'\0' && password[0] != L'\0'; }

void PluginSettings::SetBitmapMetrics(int newButtonWidth, int newButtonHeight, int newLogoWidth, int newLogoHeight) {
    buttonWidth = newButtonWidth;
    buttonHeight = newButtonHeight;
    logoWidth = newLogoWidth;
    logoHeight = newLogoHeight;
}

void PluginSettings::MeasureScreen() {
    screenWidth = GetSystemMetrics(SM_CXSCREEN);
    screenHeight = GetSystemMetrics(SM_CYSCREEN);
}

void PluginSettings::CreateFonts() {
    boldFont.reset(MakeTahoma(17, 600, false));
    regularFont.reset(MakeTahoma(16, 400, false));
    underlineFont.reset(MakeTahoma(17, 600, true));
}

PluginSettings& Settings() {
    if (PluginSettings* made = g_settings.load(std::memory_order_acquire)) return *made;
    ScopedSrwLock hold(g_settingsLock);
    PluginSettings* settings = g_settings.load(std::memory_order_relaxed);
    if (!settings) {
        auto record = std::make_unique<PluginSettings>();
        record->MeasureScreen();
        record->LoadSettings();
        record->CreateFonts();
        settings = record.release();
        g_settings.store(settings, std::memory_order_release);
    }
    return *settings;
}

void DestroySettings() {
    std::unique_ptr<PluginSettings> record;
    ScopedSrwLock hold(g_settingsLock);
    record.reset(g_settings.exchange(nullptr, std::memory_order_acq_rel));
}

void SetBitmapMetrics(int buttonWidth, int buttonHeight, int logoWidth, int logoHeight) {
    Settings().SetBitmapMetrics(buttonWidth, buttonHeight, logoWidth, logoHeight);
}

std::optional<std::wstring> ReadPluginText(const wchar_t* valueName) {
    UniqueHkey key = OpenPluginKey(KEY_READ);
    if (!key) return std::nullopt;
    return QueryTextValue(key.get(), valueName);
}

bool WritePluginText(const wchar_t* valueName, std::wstring_view text) {
    if (!FitsTextField(text)) return false;
    UniqueHkey key = OpenPluginKey(KEY_WRITE);
    if (!key) return false;
    const std::wstring terminated(text);
    const DWORD bytes = static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t));
    const LONG result =
        RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(terminated.c_str()), bytes);
    RegFlushKey(key.get());
    return result == ERROR_SUCCESS;
}

std::wstring ReadStoredTranslation() { return ReadPluginText(kTranslationValue).value_or(std::wstring()); }

void StoreTranslation(std::wstring_view languageCode) { WritePluginText(kTranslationValue, languageCode); }

}  // namespace sv
