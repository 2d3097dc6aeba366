// The plug-in's settings store: the values kept under its own registry key, and the one record of
// settings, fonts and metrics that the whole module shares.
//
// The registry key is made by registration; this code only opens it. A key that cannot be opened
// means defaults on reading and no change on writing. Nothing here reports an error to the user.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/win_handles.h"

class CSonavire;

namespace sv {

// Fixed text fields: 259 characters and the terminator.
inline constexpr size_t kSettingTextChars = 260;
inline constexpr size_t kSettingTextMaxLength = kSettingTextChars - 1;

inline constexpr int kDefaultSplitPos = 220;
inline constexpr int kStatusLineHeight = 20;
inline constexpr wchar_t kDeviceText[] = L"1000";

// Value names under the plug-in's key.
inline constexpr wchar_t kUserNameValue[] = L"UserName";
inline constexpr wchar_t kPasswordValue[] = L"Password";
inline constexpr wchar_t kSplitPosValue[] = L"SplitPos";
inline constexpr wchar_t kTranslationValue[] = L"Translation";
inline constexpr wchar_t kYouTubeUrlValue[] = L"YouTube URL";
inline constexpr wchar_t kAdvertUrlValue[] = L"Advert URL";  // first pages: service/server_hosts.h

struct PluginSettings {
    // The live plug-in object; set when one is made, cleared at its final release.
    CSonavire* plugin = nullptr;
    UniqueFont boldFont;       // lyrics pane
    UniqueFont regularFont;    // action bar, status line
    UniqueFont underlineFont;  // lyrics pane
    // Worker threads read these fields while building a query; they change only on the UI thread,
    // and as fixed arrays they are never reallocated under a reader.
    wchar_t userName[kSettingTextChars] = {};
    wchar_t password[kSettingTextChars] = {};
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

    // Reads "UserName", "Password" and "SplitPos"; a value that cannot be read keeps its field.
    void LoadSettings();
    // Writes userName, password and splitPos, then flushes the key.
    void SaveSettings() const;
    // Takes over credentials handed over by a page and saves them. Texts longer than 259
    // characters (or holding a NUL) are refused whole: a cut name or password would be a different
    // account. Returns whether they were taken.
    bool SetCredentials(std::wstring_view newUserName, std::wstring_view newPassword);
    bool IsSignedIn() const;
    void SetBitmapMetrics(int buttonWidth, int buttonHeight, int logoWidth, int logoHeight);
    void MeasureScreen();
    void CreateFonts();
};

// The module's record, made on first use: it reads the registry and creates fonts, which must not
// happen under the loader lock, so never call this from DllMain.
PluginSettings& Settings();
// Module unload: deletes the record and its fonts. The next Settings() makes a new one.
void DestroySettings();
// Stores the bitmap metrics in the module's record (the application object measures them).
void SetBitmapMetrics(int buttonWidth, int buttonHeight, int logoWidth, int logoHeight);

// Single values under the plug-in's key, in the same format as the record's texts: read into at
// most 259 characters (a longer or unreadable value counts as missing; the stored type is not
// examined), written as REG_SZ with the terminator. Writing flushes the key.
std::optional<std::wstring> ReadPluginText(const wchar_t* valueName);
bool WritePluginText(const wchar_t* valueName, std::wstring_view text);

// The chosen translation language's code; empty for "no translation" or when nothing is stored.
std::wstring ReadStoredTranslation();
void StoreTranslation(std::wstring_view languageCode);

}  // namespace sv
