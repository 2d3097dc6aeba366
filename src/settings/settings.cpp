#include "settings/settings.h"

#include "settings/plugin_identity.h"

#include <dpapi.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <memory>

#include "base/hresult.h"
#include "base/ui_thread.h"

namespace sv {
namespace {

static_assert(PluginSettings::kSealedPasswordBytes % CRYPTPROTECTMEMORY_BLOCK_SIZE == 0 &&
                  PluginSettings::kSealedPasswordBytes >= kSettingTextChars * sizeof(wchar_t),
              "the sealed password holds the longest text and its terminator in whole blocks");

UniqueHkey OpenPluginKey(REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, access, &key) != ERROR_SUCCESS) return {};
    return UniqueHkey(key);
}

UniqueHkey OpenUserKey(REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, access, &key) != ERROR_SUCCESS) return {};
    return UniqueHkey(key);
}

UniqueHkey CreateUserKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return {};
    return UniqueHkey(key);
}

// Memory that DPAPI hands out (LocalAlloc), wiped before it is freed when it held a secret.
class DpapiOutput {
public:
    DpapiOutput() = default;
    DpapiOutput(const DpapiOutput&) = delete;
    DpapiOutput& operator=(const DpapiOutput&) = delete;
    ~DpapiOutput() {
        if (!blob.pbData) return;
        if (secret) SecureZeroMemory(blob.pbData, blob.cbData);
        LocalFree(blob.pbData);
    }
    DATA_BLOB blob{};
    bool secret = false;
};

// Four bytes, whatever the type; anything else counts as missing.
std::optional<int32_t> QueryFourBytes(HKEY key, const wchar_t* valueName) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!key ||
        RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        size != sizeof(value))
        return std::nullopt;
    return static_cast<int32_t>(value);
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

LONG SetTextValue(HKEY key, const wchar_t* valueName, std::wstring_view text) {
    const std::wstring terminated(text);
    const DWORD bytes = static_cast<DWORD>((terminated.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(terminated.c_str()), bytes);
}

// The stored password: a DPAPI blob of the UTF-16 text without terminator, for this user only.
// Anything that does not decrypt to a text the field can hold counts as no password.
bool ReadStoredPassword(HKEY key, wchar_t (&out)[kSettingTextChars]) {
    out[0] = L'\0';
    DWORD size = 0;
    if (RegQueryValueExW(key, kPasswordValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0 ||
        size > 64 * 1024)
        return false;
    std::unique_ptr<BYTE[]> stored(new BYTE[size]);
    if (RegQueryValueExW(key, kPasswordValue, nullptr, nullptr, stored.get(), &size) != ERROR_SUCCESS) return false;
    DATA_BLOB in{size, stored.get()};
    DpapiOutput clear;
    clear.secret = true;
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &clear.blob))
        return false;
    const size_t length = clear.blob.cbData / sizeof(wchar_t);
    if (clear.blob.cbData % sizeof(wchar_t) != 0 || length > kSettingTextMaxLength) return false;
    std::memcpy(out, clear.blob.pbData, clear.blob.cbData);
    out[length] = L'\0';
    if (wcslen(out) != length) {
        SecureZeroMemory(out, sizeof(out));
        return false;
    }
    return true;
}

// Encrypts the password for the current user and stores it; an empty one is removed instead.
bool StorePassword(HKEY key, std::wstring_view password) {
    if (password.empty()) {
        const LONG result = RegDeleteValueW(key, kPasswordValue);
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
    }
    DATA_BLOB in{static_cast<DWORD>(password.size() * sizeof(wchar_t)),
                 reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password.data()))};
    DpapiOutput sealed;
    if (!CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &sealed.blob)) {
        ReportFailure("password encryption", HRESULT_FROM_WIN32(GetLastError()));
        // No password on disk rather than an old one beside the new name.
        RegDeleteValueW(key, kPasswordValue);
        return false;
    }
    return RegSetValueExW(key, kPasswordValue, 0, REG_BINARY, sealed.blob.pbData, sealed.blob.cbData) == ERROR_SUCCESS;
}

void CopyToField(wchar_t (&field)[kSettingTextChars], std::wstring_view text) {
    const size_t length = text.size() < kSettingTextMaxLength ? text.size() : kSettingTextMaxLength;
    text.copy(field, length);
    field[length] = L'\0';
}

// Constant-initialised, so usable whatever the order of static construction.
SRWLOCK g_settingsLock = SRWLOCK_INIT;
std::atomic<PluginSettings*> g_settings{nullptr};

}  // namespace

PluginSettings::PluginSettings() { CopyToField(deviceText, kDeviceText); }

void PluginSettings::LoadSettings() {
    UniqueHkey user = OpenUserKey(KEY_READ);
    if (user) {
        if (auto text = QueryTextValue(user.get(), kUserNameValue)) CopyToField(userName, *text);
        wchar_t clear[kSettingTextChars];
        if (ReadStoredPassword(user.get(), clear))
            HoldPassword(clear);
        else
            ForgetPassword();
        SecureZeroMemory(clear, sizeof(clear));
    }
    std::optional<int32_t> split = QueryFourBytes(user.get(), kSplitPosValue);
    // An older install kept the splitter position machine-wide: a default until the user moves it.
    if (!split) split = QueryFourBytes(OpenPluginKey(KEY_READ).get(), kSplitPosValue);
    if (split) splitPos = *split;
}

void PluginSettings::SaveSettings() const {
    SV_ASSERT_UI_THREAD();
    UniqueHkey key = CreateUserKey();
    if (!key) return;
    const DWORD value = static_cast<DWORD>(splitPos);
    RegSetValueExW(key.get(), kSplitPosValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegFlushKey(key.get());
}

bool PluginSettings::SetCredentials(std::wstring_view newUserName, std::wstring_view newPassword) {
    SV_ASSERT_UI_THREAD();
    if (!FitsTextField(newUserName) || !FitsTextField(newPassword)) return false;
    CopyToField(userName, newUserName);
    HoldPassword(newPassword);
    UniqueHkey key = CreateUserKey();
    if (!key) {
        ReportFailure("storing the sign-in", E_ACCESSDENIED);
        return true;
    }
    SetTextValue(key.get(), kUserNameValue, newUserName);
    StorePassword(key.get(), newPassword);
    RegFlushKey(key.get());
    return true;
}

void PluginSettings::SignOut() {
    SV_ASSERT_UI_THREAD();
    userName[0] = L'\0';
    ForgetPassword();
    UniqueHkey key = OpenUserKey(KEY_SET_VALUE);
    if (!key) return;
    RegDeleteValueW(key.get(), kUserNameValue);
    RegDeleteValueW(key.get(), kPasswordValue);
    RegFlushKey(key.get());
}

bool PluginSettings::IsSignedIn() const { return userName[0] != L'\0' && hasPassword_; }

std::wstring PluginSettings::RevealPassword() const {
    if (!hasPassword_) return {};
    alignas(16) BYTE clear[kSealedPasswordBytes];
    std::memcpy(clear, sealedPassword_, sizeof(clear));
    std::wstring text;
    if (CryptUnprotectMemory(clear, sizeof(clear), CRYPTPROTECTMEMORY_SAME_PROCESS)) {
        const wchar_t* chars = reinterpret_cast<const wchar_t*>(clear);
        text.assign(chars, wcsnlen(chars, kSettingTextMaxLength));
    }
    SecureZeroMemory(clear, sizeof(clear));
    return text;
}

void PluginSettings::HoldPassword(std::wstring_view text) {
    ForgetPassword();
    if (text.empty()) return;
    text.copy(reinterpret_cast<wchar_t*>(sealedPassword_),
              text.size() < kSettingTextMaxLength ? text.size() : kSettingTextMaxLength);
    if (!CryptProtectMemory(sealedPassword_, sizeof(sealedPassword_), CRYPTPROTECTMEMORY_SAME_PROCESS)) {
        // Not held in clear: the user signs in again.
        ReportFailure("password in memory", HRESULT_FROM_WIN32(GetLastError()));
        SecureZeroMemory(sealedPassword_, sizeof(sealedPassword_));
        return;
    }
    hasPassword_ = true;
}

void PluginSettings::ForgetPassword() {
    SecureZeroMemory(sealedPassword_, sizeof(sealedPassword_));
    hasPassword_ = false;
}

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
    boldFont.reset(MakePaneFont(kLyricsFontHeight, kLyricsFontWeight, false));
    regularFont.reset(MakePaneFont(kTextFontHeight, kTextFontWeight, false));
    underlineFont.reset(MakePaneFont(kLyricsFontHeight, kLyricsFontWeight, true));
}

HFONT MakePaneFont(int height, int weight, bool underline) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE, 0, 0, 0, CLEARTYPE_QUALITY, 0,
                       L"Tahoma");
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
    const LONG result = SetTextValue(key.get(), valueName, text);
    RegFlushKey(key.get());
    return result == ERROR_SUCCESS;
}

std::optional<std::wstring> ReadUserText(const wchar_t* valueName) {
    UniqueHkey key = OpenUserKey(KEY_READ);
    if (!key) return std::nullopt;
    return QueryTextValue(key.get(), valueName);
}

bool WriteUserText(const wchar_t* valueName, std::wstring_view text) {
    if (!FitsTextField(text)) return false;
    UniqueHkey key = CreateUserKey();
    if (!key) return false;
    const LONG result = SetTextValue(key.get(), valueName, text);
    RegFlushKey(key.get());
    return result == ERROR_SUCCESS;
}

std::wstring ReadStoredTranslation() {
    // The user's own choice, "no translation" included, wins over an older install's default.
    if (auto own = ReadUserText(kTranslationValue)) return *own;
    return ReadPluginText(kTranslationValue).value_or(std::wstring());
}

void StoreTranslation(std::wstring_view languageCode) {
    SV_ASSERT_UI_THREAD();
    WriteUserText(kTranslationValue, languageCode);
}

}  // namespace sv
