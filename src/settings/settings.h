// The plug-in's settings store: the values kept in the registry, and the one record of settings,
// fonts and metrics that the whole module shares.
//
// Two keys. The machine-wide plug-in key under HKEY_LOCAL_MACHINE is made by registration and
// written only by administrators: the service hosts and first pages are read from there alone.
// Each user's own values (user name, password, splitter position, translation) live under
// HKEY_CURRENT_USER in kUserSettingsKey, made on the first write; until a user has their own
// splitter position or translation, the ones an older install kept in the plug-in key serve as
// defaults. The password is stored encrypted for the user (DPAPI) and held encrypted in memory.
// A key that cannot be opened means defaults on reading and no change on writing. Nothing here
// shows an error to the user.
//
// Threads: the record belongs to the user-interface thread (read and changed there only; jobs get
// copies before they are queued). The free functions below that read open a key of their own per
// call and may run on a job; the writes run on the user-interface thread. The rule in full: docs/architecture.md,
// "Lifetimes and threads".
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/win_handles.h"

namespace sv {

// Fixed text fields: 259 characters and the terminator.
inline constexpr size_t kSettingTextChars = 260;
inline constexpr size_t kSettingTextMaxLength = kSettingTextChars - 1;

inline constexpr int kDefaultSplitPos = 220;
inline constexpr int kStatusLineHeight = 20;
inline constexpr wchar_t kDeviceText[] = L"1000";

// The panes' fonts (Tahoma, ClearType), pixel heights at 96 dpi: the lyrics and the link under
// them, and the small texts (action bar, status line).
inline constexpr int kLyricsFontHeight = 17;
inline constexpr int kLyricsFontWeight = 600;
inline constexpr int kTextFontHeight = 16;
inline constexpr int kTextFontWeight = 400;

// Value names: the user's own key holds the first four, the plug-in's key the rest.
inline constexpr wchar_t kUserNameValue[] = L"UserName";
inline constexpr wchar_t kPasswordValue[] = L"Password";
inline constexpr wchar_t kSplitPosValue[] = L"SplitPos";
inline constexpr wchar_t kTranslationValue[] = L"Translation";
inline constexpr wchar_t kYouTubeUrlValue[] = L"YouTube URL";
inline constexpr wchar_t kAdvertUrlValue[] = L"Advert URL";  // first pages: service/server_hosts.h

struct PluginSettings {
    UniqueFont boldFont;       // lyrics pane
    UniqueFont regularFont;    // action bar, status line
    UniqueFont underlineFont;  // lyrics pane
    // User-interface thread only; jobs get copies (CaptureQuerySettings).
    wchar_t userName[kSettingTextChars] = {};
    wchar_t deviceText[kSettingTextChars] = {};
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t splitPos = kDefaultSplitPos;  // height of the part below the splitter, taken as stored
    int32_t statusHeight = kStatusLineHeight;
    int32_t buttonWidth = 0;  // one of the four images in bitmap 103
    int32_t buttonHeight = 0;
    int32_t logoWidth = 0;  // bitmap 100
    int32_t logoHeight = 0;

    // Defaults only: device text, split position, status height. No registry, no GDI.
    PluginSettings();
    PluginSettings(const PluginSettings&) = delete;
    PluginSettings& operator=(const PluginSettings&) = delete;

    // Reads the user's "UserName", "Password" and "SplitPos" ("SplitPos" from the plug-in's key
    // while the user has none). A value that cannot be read keeps its field; a password that does
    // not decrypt for this user (another user's, damaged) counts as none.
    void LoadSettings();
    // Writes splitPos into the user's key, then flushes it. The credentials are written only by
    // SetCredentials and removed by SignOut.
    void SaveSettings() const;
    // Takes over credentials (a sign-in, or a page's hand-over) and stores them: the name as text,
    // the password encrypted for the current user. Texts longer than 259 characters (or holding a
    // NUL) are refused whole: a cut name or password would be a different account. Returns
    // whether they were taken; they are kept for this session even when they cannot be stored.
    bool SetCredentials(std::wstring_view newUserName, std::wstring_view newPassword);
    // Forgets the credentials, in memory and in the user's key at once.
    void SignOut();
    bool IsSignedIn() const;
    bool HasPassword() const { return hasPassword_; }
    // The password in clear, for the sign-in request or a trusted page only; empty when there is
    // none. The caller should not keep it longer than needed.
    std::wstring RevealPassword() const;
    void SetBitmapMetrics(int buttonWidth, int buttonHeight, int logoWidth, int logoHeight);
    void MeasureScreen();
    void CreateFonts();

    // The password held for this session: its UTF-16 text and terminator, zero-padded, encrypted
    // with CryptProtectMemory while not in use.
    static constexpr size_t kSealedPasswordBytes = 528;  // whole cipher blocks of 16 bytes

private:
    void HoldPassword(std::wstring_view text);
    void ForgetPassword();

    alignas(16) BYTE sealedPassword_[kSealedPasswordBytes] = {};
    bool hasPassword_ = false;
};

// The module's record, made on first use (by any thread, under a lock: the application's start):
// it reads the registry and creates fonts, which must not happen under the loader lock, so never
// call this from DllMain.
PluginSettings& Settings();
// Module unload: deletes the record and its fonts. The next Settings() makes a new one.
void DestroySettings();
// Stores the bitmap metrics in the module's record (the application object measures them).
void SetBitmapMetrics(int buttonWidth, int buttonHeight, int logoWidth, int logoHeight);

// A font of the panes' face at a pixel height (the panes' own at another DPI).
HFONT MakePaneFont(int height, int weight, bool underline);

// Single values under the machine-wide plug-in key (HKEY_LOCAL_MACHINE), in the same format as
// the record's texts: read into at most 259 characters (a longer or unreadable value counts as
// missing; the stored type is not examined), written as REG_SZ with the terminator. Writing
// flushes the key and needs an administrator.
std::optional<std::wstring> ReadPluginText(const wchar_t* valueName);
bool WritePluginText(const wchar_t* valueName, std::wstring_view text);
// The same for the current user's own key; writing creates the key.
std::optional<std::wstring> ReadUserText(const wchar_t* valueName);
bool WriteUserText(const wchar_t* valueName, std::wstring_view text);

// The chosen translation language's code: the user's own, else the plug-in key's; empty for
// "no translation" or when nothing is stored (any thread). Storing writes the user's own
// (user-interface thread).
std::wstring ReadStoredTranslation();
void StoreTranslation(std::wstring_view languageCode);

}  // namespace sv
