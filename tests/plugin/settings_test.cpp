#include "settings/settings.h"

#include <dpapi.h>
#include <gtest/gtest.h>

#include <string>

#include "plugin_key_scope.h"

using sv::PluginSettings;
using svtest::PluginKeyScope;

namespace {

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

// What the stored password decrypts to for this user; none when it does not.
std::optional<std::wstring> Decrypt(const svtest::StoredValue& value) {
    DATA_BLOB in{static_cast<DWORD>(value.bytes.size()), const_cast<BYTE*>(value.bytes.data())}, out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return {};
    std::wstring text(reinterpret_cast<const wchar_t*>(out.pbData), out.cbData / sizeof(wchar_t));
    LocalFree(out.pbData);
    return text;
}

}  // namespace

TEST(Settings, DefaultsWithAnEmptyKey) {
    PluginKeyScope key;
    ASSERT_TRUE(key.valid());
    PluginSettings settings;
    settings.LoadSettings();
    EXPECT_EQ(settings.splitPos, 220);
    EXPECT_EQ(settings.statusHeight, 20);
    EXPECT_STREQ(settings.userName, L"");
    EXPECT_FALSE(settings.HasPassword());
    EXPECT_STREQ(settings.deviceText, L"1000");
    EXPECT_FALSE(settings.IsSignedIn());
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

    // The plug-in key's value is only a default from an older install: the user's own wins, and
    // a drag stores it for the user alone.
    key.SetDword(L"SplitPos", 100000);
    PluginKeyScope::SetUserDword(L"SplitPos", 240);
    settings.LoadSettings();
    EXPECT_EQ(settings.splitPos, 240);
    settings.splitPos = 250;
    settings.SaveSettings();
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(key.GetUser(L"SplitPos")->bytes.data()), 250u);
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(key.Get(L"SplitPos")->bytes.data()), 100000u);
}

TEST(Settings, LongestUserNameIsReadWholeAndWrittenBackTheSame) {
    PluginKeyScope key;
    // Credentials an older install kept in the plug-in key, readable by everyone, are never read.
    key.SetText(L"UserName", L"mallory");
    key.SetText(L"Password", L"plain");
    PluginSettings settings;
    settings.LoadSettings();
    EXPECT_STREQ(settings.userName, L"");
    EXPECT_FALSE(settings.HasPassword());

    const std::wstring name = Repeat(L'n', 259);
    PluginKeyScope::SetUserText(L"UserName", name);
    settings.LoadSettings();
    EXPECT_EQ(std::wstring(settings.userName), name);
    EXPECT_FALSE(settings.IsSignedIn());

    ASSERT_TRUE(settings.SetCredentials(name, L"pw"));
    auto stored = key.GetUser(L"UserName");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->bytes.size(), 520u);  // 259 characters and the terminator
    EXPECT_EQ(stored->Text(), name + L'\0');
}

TEST(Settings, TextsThatDoNotFitAndPasswordsThatDoNotDecrypt) {
    PluginKeyScope key;
    PluginSettings settings;
    // 260 characters do not fit the field: the value counts as unreadable.
    PluginKeyScope::SetUserText(L"UserName", Repeat(L'x', 260));
    settings.LoadSettings();
    EXPECT_STREQ(settings.userName, L"");
    // A password stored as plain text, or damaged, is no password.
    PluginKeyScope::SetUserText(L"UserName", L"abe");
    PluginKeyScope::SetUserText(L"Password", L"abc");
    settings.LoadSettings();
    EXPECT_STREQ(settings.userName, L"abe");
    EXPECT_FALSE(settings.HasPassword());
    ASSERT_TRUE(settings.SetCredentials(L"abe", L"abc"));
    auto blob = key.GetUser(L"Password");
    blob->bytes.resize(blob->bytes.size() / 2);  // cut short
    PluginKeyScope::SetUserBytes(L"Password", REG_BINARY, blob->bytes.data(), static_cast<DWORD>(blob->bytes.size()));
    PluginSettings reloaded;
    reloaded.LoadSettings();
    EXPECT_EQ(reloaded.RevealPassword(), L"");
}

TEST(Settings, PasswordIsStoredEncryptedForTheUserAndSignOutRemovesIt) {
    PluginKeyScope key;
    PluginSettings settings;
    EXPECT_TRUE(settings.SetCredentials(Repeat(L'u', 259), L"pw \U0001F3B5"));
    EXPECT_TRUE(settings.IsSignedIn());
    EXPECT_EQ(settings.RevealPassword(), L"pw \U0001F3B5");
    auto stored = key.GetUser(L"Password");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(stored->Text().find(L"pw \U0001F3B5"), std::wstring::npos) << "not the plain text";
    EXPECT_EQ(Decrypt(*stored), L"pw \U0001F3B5");
    EXPECT_FALSE(key.Get(L"UserName") || key.Get(L"Password")) << "nothing machine-wide";

    // A fresh record (the next session) decrypts it again.
    PluginSettings next;
    next.LoadSettings();
    EXPECT_TRUE(next.IsSignedIn());
    EXPECT_EQ(next.RevealPassword(), L"pw \U0001F3B5");

    // Too long, or with a NUL that would cut it short: nothing changes, in memory or stored.
    EXPECT_FALSE(settings.SetCredentials(L"bob", Repeat(L'p', 260)));
    EXPECT_FALSE(settings.SetCredentials(Repeat(L'b', 260), L"pw2"));
    EXPECT_FALSE(settings.SetCredentials(std::wstring(L"bo\0b", 4), L"pw2"));
    EXPECT_EQ(std::wstring(settings.userName), Repeat(L'u', 259));
    EXPECT_EQ(Decrypt(*key.GetUser(L"Password")), L"pw \U0001F3B5");

    // Signed in needs both texts; an empty password leaves none stored.
    EXPECT_TRUE(settings.SetCredentials(L"carol", L""));
    EXPECT_FALSE(settings.IsSignedIn());
    EXPECT_FALSE(key.GetUser(L"Password"));
    EXPECT_TRUE(settings.SetCredentials(L"", L"pw"));
    EXPECT_FALSE(settings.IsSignedIn());

    // Sign-out forgets both at once, on disk too, and leaves the splitter position alone.
    ASSERT_TRUE(settings.SetCredentials(L"carol", Repeat(L'p', 259)));
    EXPECT_EQ(settings.RevealPassword(), Repeat(L'p', 259));
    settings.splitPos = 300;
    settings.SaveSettings();
    settings.SignOut();
    EXPECT_FALSE(settings.IsSignedIn());
    EXPECT_EQ(settings.RevealPassword(), L"");
    EXPECT_FALSE(key.GetUser(L"Password") || key.GetUser(L"UserName"));
    EXPECT_TRUE(key.GetUser(L"SplitPos"));
}

TEST(Settings, UserValuesNeedNoPluginKeyAndMakeTheirOwn) {
    PluginKeyScope key;
    svtest::DeletePluginKey();
    ASSERT_FALSE(key.UserKeyExists());
    PluginSettings settings;
    settings.LoadSettings();
    EXPECT_EQ(settings.splitPos, 220);
    settings.splitPos = 400;
    settings.SaveSettings();
    EXPECT_TRUE(settings.SetCredentials(L"dave", L"pw"));
    EXPECT_FALSE(sv::WritePluginText(sv::kTranslationValue, L"de"));
    sv::StoreTranslation(L"de");
    EXPECT_EQ(sv::ReadStoredTranslation(), L"de");
    EXPECT_FALSE(sv::ReadPluginText(sv::kUserNameValue));
    EXPECT_FALSE(svtest::PluginKeyExists()) << "the plug-in key is only opened, never created";
    PluginSettings next;
    next.LoadSettings();
    EXPECT_EQ(next.splitPos, 400);
    EXPECT_TRUE(next.IsSignedIn());
}

TEST(Settings, TranslationIsTheUsersOwnWithTheOlderDefaultUntilThen) {
    PluginKeyScope key;
    EXPECT_EQ(sv::ReadStoredTranslation(), L"");
    key.SetText(L"Translation", L"es");
    EXPECT_EQ(sv::ReadStoredTranslation(), L"es");
    sv::StoreTranslation(L"fr");
    EXPECT_EQ(sv::ReadStoredTranslation(), L"fr");
    auto stored = key.GetUser(L"Translation");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->bytes.size(), 6u);
    EXPECT_EQ(key.Get(L"Translation")->Text(), std::wstring(L"es", 3)) << "the machine-wide value stays";
    sv::StoreTranslation(L"");  // "no translation" is a choice of its own
    EXPECT_EQ(key.GetUser(L"Translation")->bytes.size(), 2u);
    EXPECT_EQ(sv::ReadStoredTranslation(), L"");
}

TEST(Settings, ModuleRecordIsMadeOnFirstUseWithFontsAndScreen) {
    PluginKeyScope key;
    PluginKeyScope::SetUserText(L"UserName", L"erin");
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
    for (const Expected& e :
         {Expected{settings.boldFont.get(), 17, 600, FALSE}, Expected{settings.regularFont.get(), 16, 400, FALSE},
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
