#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string>

#include "plugin_key_scope.h"

using sv::PluginSettings;
using svtest::PluginKeyScope;

namespace {

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }


}  // namespace

TEST(Settings, DefaultsWithAnEmptyKey) {
    PluginKeyScope key;
    ASSERT_TRUE(key.valid());
    PluginSettings settings;
    settings.LoadSettings();
    EXPECT_EQ(settings.splitPos, 220);
    EXPECT_EQ(settings.statusHeight, 20);
    EXPECT_STREQ(settings.userName, L"");
    EXPECT_STREQ(settings.password, L"");
    EXPECT_STREQ(settings.deviceText, L"1000");
    EXPECT_FALSE(settings.IsSignedIn());
    EXPECT_EQ(settings.plugin, nullptr);
}

TEST(Settings, SplitPosIsTakenAsStoredWhenItIsFourBytes) {
    PluginKeyScope key;
    PluginSettings settings;
    key.SetDword(L"SplitPos", 0);
    settings.LoadSettings();
    EXPECT_EQ(settings.splitPos, 0);
    key.SetDword(L"SplitPos", 100000);
    settings.LoadSettings();
    EXPECT_EQ(settings.splitPos, 100000);

    // Not four bytes: the value cannot be read as a number and the field keeps what it had.
    PluginSettings other;
    key.SetText(L"SplitPos", L"300");
    other.LoadSettings();
    EXPECT_EQ(other.splitPos, 220);
    const unsigned short twoBytes = 300;
    key.SetBytes(L"SplitPos", REG_BINARY, &twoBytes, sizeof(twoBytes));
    other.LoadSettings();
    EXPECT_EQ(other.splitPos, 220);
}

TEST(Settings, LongestUserNameIsReadWholeAndWrittenBackTheSame) {
    PluginKeyScope key;
    const std::wstring name = Repeat(L'n', 259);
    key.SetText(L"UserName", name);
    key.SetText(L"Password", L"secret");
    PluginSettings settings;
    settings.LoadSettings();
    EXPECT_EQ(std::wstring(settings.userName), name);
    EXPECT_TRUE(settings.IsSignedIn());

    key.Delete(L"UserName");
    settings.SaveSettings();
    auto stored = key.Get(L"UserName");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->bytes.size(), 520u);  // 259 characters and the terminator
    EXPECT_EQ(stored->Text(), name + L'\0');
}

TEST(Settings, TextsThatDoNotFitOrLackTheirTerminator) {
    PluginKeyScope key;
    PluginSettings settings;
    // 260 characters do not fit the field: the value counts as unreadable.
    key.SetText(L"UserName", Repeat(L'x', 260));
    settings.LoadSettings();
    EXPECT_STREQ(settings.userName, L"");
    // 260 characters without a terminator fill the read exactly; still too long.
    const std::wstring full = Repeat(L'y', 260);
    key.SetBytes(L"UserName", REG_SZ, full.data(), 520);
    settings.LoadSettings();
    EXPECT_STREQ(settings.userName, L"");
    // A shorter text stored without its terminator is read as it is; the type is not examined.
    key.SetBytes(L"Password", REG_BINARY, L"abc", 6);
    settings.LoadSettings();
    EXPECT_STREQ(settings.password, L"abc");
}

TEST(Settings, SavingWhileSignedOutStoresEmptyCredentials) {
    PluginKeyScope key;
    key.SetText(L"UserName", L"alice");
    key.SetText(L"Password", L"pw");
    PluginSettings settings;
    settings.LoadSettings();
    ASSERT_TRUE(settings.IsSignedIn());
    // Sign-out empties the fields in memory; the next splitter drag saves.
    settings.userName[0] = L'\0';
    settings.password[0] = L'\0';
    settings.splitPos = 310;
    settings.SaveSettings();
    for (const wchar_t* name : {L"UserName", L"Password"}) {
        auto stored = key.Get(name);
        ASSERT_TRUE(stored) << name;
        EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(stored->bytes.size(), 2u) << "just the terminator";
    }
    auto split = key.Get(L"SplitPos");
    ASSERT_TRUE(split);
    EXPECT_EQ(split->type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(split->bytes.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(split->bytes.data()), 310u);
}

TEST(Settings, SetCredentialsSavesOrRefusesWhole) {
    PluginKeyScope key;
    PluginSettings settings;
    EXPECT_TRUE(settings.SetCredentials(Repeat(L'u', 259), L"pw"));
    EXPECT_TRUE(settings.IsSignedIn());
    EXPECT_EQ(key.Get(L"UserName")->Text(), Repeat(L'u', 259) + L'\0');
    EXPECT_EQ(key.Get(L"Password")->Text(), std::wstring(L"pw") + L'\0');
    ASSERT_TRUE(key.Get(L"SplitPos"));

    // Too long, or with a NUL that would cut it short: nothing changes, in memory or stored.
    EXPECT_FALSE(settings.SetCredentials(L"bob", Repeat(L'p', 260)));
    EXPECT_FALSE(settings.SetCredentials(Repeat(L'b', 260), L"pw2"));
    EXPECT_FALSE(settings.SetCredentials(std::wstring(L"bo\0b", 4), L"pw2"));
    EXPECT_EQ(std::wstring(settings.userName), Repeat(L'u', 259));
    EXPECT_STREQ(settings.password, L"pw");
    EXPECT_EQ(key.Get(L"UserName")->Text(), Repeat(L'u', 259) + L'\0');

    // Signed in needs both texts.
    EXPECT_TRUE(settings.SetCredentials(L"carol", L""));
    EXPECT_FALSE(settings.IsSignedIn());
    EXPECT_TRUE(settings.SetCredentials(L"", L"pw"));
    EXPECT_FALSE(settings.IsSignedIn());
}

TEST(Settings, MissingKeyMeansDefaultsAndNoWrite) {
    svtest::DeletePluginKey();
    ASSERT_FALSE(svtest::PluginKeyExists());
    PluginSettings settings;
    settings.LoadSettings();
    EXPECT_EQ(settings.splitPos, 220);
    EXPECT_STREQ(settings.userName, L"");
    settings.splitPos = 400;
    settings.SaveSettings();
    EXPECT_TRUE(settings.SetCredentials(L"dave", L"pw"));  // kept in memory for this session
    EXPECT_TRUE(settings.IsSignedIn());
    EXPECT_FALSE(sv::WritePluginText(sv::kTranslationValue, L"de"));
    sv::StoreTranslation(L"de");
    EXPECT_EQ(sv::ReadStoredTranslation(), L"");
    EXPECT_FALSE(sv::ReadPluginText(sv::kUserNameValue));
    EXPECT_FALSE(svtest::PluginKeyExists()) << "the key is only opened, never created";
}

TEST(Settings, TranslationCodeRoundTrips) {
    PluginKeyScope key;
    EXPECT_EQ(sv::ReadStoredTranslation(), L"");
    sv::StoreTranslation(L"fr");
    EXPECT_EQ(sv::ReadStoredTranslation(), L"fr");
    auto stored = key.Get(L"Translation");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->bytes.size(), 6u);
    sv::StoreTranslation(L"");  // "no translation"
    EXPECT_EQ(key.Get(L"Translation")->bytes.size(), 2u);
    EXPECT_EQ(sv::ReadStoredTranslation(), L"");
}

TEST(Settings, ModuleRecordIsMadeOnFirstUseWithFontsAndScreen) {
    PluginKeyScope key;
    key.SetText(L"UserName", L"erin");
    key.SetDword(L"SplitPos", 260);
    sv::DestroySettings();
    PluginSettings& settings = sv::Settings();
    EXPECT_EQ(&settings, &sv::Settings());
    EXPECT_STREQ(settings.userName, L"erin");
    EXPECT_EQ(settings.splitPos, 260);
    EXPECT_STREQ(settings.deviceText, L"1000");
    EXPECT_EQ(settings.screenWidth, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(settings.screenHeight, GetSystemMetrics(SM_CYSCREEN));

    struct Expected {
        HFONT font;
        LONG height;
        LONG weight;
        BYTE underline;
    };
    for (const Expected& e : {Expected{settings.boldFont.get(), 17, 600, FALSE},
                              Expected{settings.regularFont.get(), 16, 400, FALSE},
                              Expected{settings.underlineFont.get(), 17, 600, TRUE}}) {
        ASSERT_NE(e.font, nullptr);
        LOGFONTW font{};
        ASSERT_EQ(GetObjectW(e.font, sizeof(font), &font), static_cast<int>(sizeof(font)));
        EXPECT_STREQ(font.lfFaceName, L"Tahoma");
        EXPECT_EQ(font.lfHeight, e.height);
        EXPECT_EQ(font.lfWeight, e.weight);
        EXPECT_EQ(font.lfUnderline, e.underline);
        EXPECT_EQ(font.lfQuality, CLEARTYPE_QUALITY);
        EXPECT_EQ(font.lfCharSet, 0);
        EXPECT_EQ(font.lfItalic, 0);
    }

    sv::SetBitmapMetrics(118, 35, 118, 45);
    EXPECT_EQ(settings.buttonWidth, 118);
    EXPECT_EQ(settings.buttonHeight, 35);
    EXPECT_EQ(settings.logoWidth, 118);
    EXPECT_EQ(settings.logoHeight, 45);

    const HFONT oldFont = settings.boldFont.get();
    sv::DestroySettings();
    // The fonts went with the record.
    LOGFONTW gone{};
    EXPECT_EQ(GetObjectW(oldFont, sizeof(gone), &gone), 0);
    PluginSettings& fresh = sv::Settings();
    EXPECT_EQ(fresh.buttonWidth, 0);
    EXPECT_EQ(fresh.logoHeight, 0);
    sv::DestroySettings();
}
