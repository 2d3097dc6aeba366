// The resources as the plug-in's code loads them: linked into this test executable (its own
// module handle), and in the built DLL (version record). Also the application object's start,
// which measures the bitmaps into the settings record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dll/application.h"
#include "base/module_instance.h"
#include "base/win_handles.h"
#include "settings/settings.h"
#include "resources/resource_ids.h"
#include "test_support.h"

namespace {

std::wstring LoadText(UINT id) {
    const wchar_t* text = nullptr;
    // Length 0 asks for a read-only pointer into the resource, so the text is seen whole.
    const int length = LoadStringW(sv::ModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
}

const std::wstring kCommunity = std::wstring(L"http://") + TEXT(SONAVIRE_COMMUNITY_HOST);

TEST(StringTable, NamesStatusTextsAndLabels) {
    EXPECT_EQ(L"Sonavire", LoadText(IDS_PLUGIN_NAME));
    EXPECT_EQ(L"Sonavire for Windows Media", LoadText(IDS_PLUGIN_DESCRIPTION));
    EXPECT_EQ(L" ", LoadText(IDS_STATUS_NONE));
    EXPECT_EQ(L"Click lyrics to advance line", LoadText(IDS_STATUS_CLICK_TO_ADVANCE));
    EXPECT_EQ(L"Lyrics for this song could not be found. Please click on Edit Lyrics to add them now.",
              LoadText(IDS_STATUS_NOT_FOUND));
    EXPECT_EQ(L"Loading lyrics... Please wait", LoadText(IDS_STATUS_LOADING));
    EXPECT_EQ(L"Translating lyrics... Please wait", LoadText(IDS_STATUS_TRANSLATING));
    // Four spaces on each side of the word, then U+00BB.
    EXPECT_EQ(L"    Translate    \u00BB", LoadText(IDS_LABEL_TRANSLATE));
    EXPECT_EQ(L"Sign-in", LoadText(IDS_LABEL_SIGN_IN));
    EXPECT_EQ(L"Cancel sync", LoadText(IDS_LABEL_CANCEL_SYNC));
    EXPECT_EQ(L"Contact us", LoadText(IDS_LABEL_CONTACT_US));
    EXPECT_EQ(L"Cancel", LoadText(IDS_BUTTON_CANCEL));
    EXPECT_EQ(L"Sign-in", LoadText(IDS_BUTTON_SIGN_IN));
    EXPECT_EQ(L"Connection error", LoadText(IDS_CONNECTION_ERROR));
    const std::wstring noConnection =
        L"There is no internet connection. Ensure that your phone is correctly configured.";
    EXPECT_EQ(noConnection, LoadText(IDS_NO_CONNECTION_LOGIN_FAILURE));
    EXPECT_EQ(noConnection, LoadText(IDS_NO_CONNECTION_CANNOT_CONNECT));
    EXPECT_EQ(noConnection, LoadText(IDS_NO_CONNECTION_OTHER));
    // Ids the texts leave out stay out (a lookup shows nothing rather than a made-up text).
    EXPECT_EQ(L"", LoadText(202));
    EXPECT_EQ(L"", LoadText(410));
    EXPECT_EQ(L"", LoadText(502));

    // Callers load into 260-character buffers: every text fits.
    for (UINT id = 100; id <= 600; ++id) EXPECT_LT(LoadText(id).size(), 260u) << id;
}

TEST(StringTable, PageAddressesUseTheCompiledCommunityHost) {
    EXPECT_EQ(kCommunity, LoadText(IDS_PAGE_HOME));
    EXPECT_EQ(kCommunity + L"/wiki/community-winmo/community-lyricSearch.php?", LoadText(IDS_PAGE_LYRICS_SEARCH));
    EXPECT_EQ(kCommunity + L"/wiki/community-winmo/community-top50.php?", LoadText(IDS_PAGE_TOP_50));
    EXPECT_EQ(kCommunity + L"/wiki/community-winmo/community-map?", LoadText(IDS_PAGE_MUSIC_NEAR_YOU));
    EXPECT_EQ(kCommunity + L"/wiki/wmp/theatre.php", LoadText(IDS_PAGE_VIDEO_THEATER));
    EXPECT_EQ(L"mailto:", LoadText(IDS_PAGE_TELL_A_FRIEND));
    const std::wstring wish = LoadText(IDS_PAGE_SEND_WISH);
    EXPECT_EQ(0u, wish.find(L"mailto:"));
    EXPECT_NE(std::wstring::npos, wish.find(L".example?subject=My wish"));
    const std::wstring contact = LoadText(IDS_PAGE_CONTACT_US);
    EXPECT_EQ(0u, contact.find(L"mailto:"));
    EXPECT_EQ(contact.size() - 8, contact.rfind(L".example"));
}

// The raw header of a bitmap resource: what the resource holds, before any conversion to the
// screen's format.
BITMAPINFOHEADER BitmapHeader(int id) {
    BITMAPINFOHEADER header{};
    HRSRC found = FindResourceW(sv::ModuleInstance(), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    if (!found || SizeofResource(sv::ModuleInstance(), found) < sizeof(header)) return header;
    const void* data = LockResource(LoadResource(sv::ModuleInstance(), found));
    if (data) memcpy(&header, data, sizeof(header));
    return header;
}

TEST(Bitmaps, SizesAndDepth) {
    const BITMAPINFOHEADER logo = BitmapHeader(IDB_LOGO);
    EXPECT_EQ(118, logo.biWidth);
    EXPECT_EQ(45, logo.biHeight);
    EXPECT_EQ(24, logo.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), logo.biCompression);
    const BITMAPINFOHEADER faces = BitmapHeader(IDB_BUTTON_FACES);
    EXPECT_EQ(472, faces.biWidth);
    EXPECT_EQ(35, faces.biHeight);
    EXPECT_EQ(24, faces.biBitCount);
}

TEST(Application, StartMeasuresTheBitmapsIntoTheSettings) {
    sv::StartApplication();
    ASSERT_TRUE(sv::ApplicationStarted());
    EXPECT_EQ(118, sv::Settings().buttonWidth);
    EXPECT_EQ(35, sv::Settings().buttonHeight);
    EXPECT_EQ(118, sv::Settings().logoWidth);
    EXPECT_EQ(45, sv::Settings().logoHeight);
    sv::StartApplication();  // once only
    sv::EndApplication();
    EXPECT_FALSE(sv::ApplicationStarted());
}

TEST(Menu, PluginMenuItemsInOrder) {
    sv::UniqueMenu menu(LoadMenuW(sv::ModuleInstance(), MAKEINTRESOURCEW(IDR_PLUGIN_MENU)));
    ASSERT_TRUE(menu);
    ASSERT_EQ(1, GetMenuItemCount(menu.get()));
    wchar_t title[64] = {};
    GetMenuStringW(menu.get(), 0, title, 64, MF_BYPOSITION);
    EXPECT_STREQ(L"Sonavire", title);
    HMENU popup = GetSubMenu(menu.get(), 0);
    ASSERT_NE(nullptr, popup);
    const std::vector<UINT> expectedIds = {101, 109, 119, 120, 121, 122, 0, 103, 104, 116, 0, 105, 118, 111, 113};
    ASSERT_EQ(static_cast<int>(expectedIds.size()), GetMenuItemCount(popup));
    for (size_t i = 0; i < expectedIds.size(); ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_FTYPE;
        ASSERT_TRUE(GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &info));
        EXPECT_EQ(expectedIds[i], info.wID) << i;
        EXPECT_EQ(expectedIds[i] == 0, (info.fType & MFT_SEPARATOR) != 0) << i;
    }
    wchar_t text[64] = {};
    GetMenuStringW(popup, 113, text, 64, MF_BYCOMMAND);
    EXPECT_STREQ(L"About", text);
    GetMenuStringW(popup, CMD_LYRICS_EARLIER, text, 64, MF_BYCOMMAND);
    EXPECT_STREQ(L"Lyrics earlier by 0.5 s\t-", text) << "the pane's key after a tab";
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(Dialog, VersionNoticeTemplate) {
    HWND dialog =
        CreateDialogParamW(sv::ModuleInstance(), MAKEINTRESOURCEW(IDD_VERSION_NOTICE), nullptr, &QuietDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    wchar_t text[128] = {};
    GetWindowTextW(dialog, text, 128);
    EXPECT_STREQ(L"Sonavire", text);
    GetDlgItemTextW(dialog, IDC_VERSION_NOTICE_TEXT, text, 128);
    EXPECT_STREQ(L"Sonavire requires Windows Media Player version 11 or later.", text);
    GetDlgItemTextW(dialog, IDC_VERSION_NOTICE_UPGRADE, text, 128);
    EXPECT_STREQ(L"Click here to upgrade.", text);
    GetDlgItemTextW(dialog, IDC_VERSION_NOTICE_CANCEL, text, 128);
    EXPECT_STREQ(L"Cancel", text);
    EXPECT_TRUE(GetWindowLongPtrW(GetDlgItem(dialog, IDC_VERSION_NOTICE_CANCEL), GWL_STYLE) & WS_TABSTOP);
    const LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & DS_MODALFRAME);
    // 229 x 92 dialog units.
    RECT units{0, 0, 229, 92};
    MapDialogRect(dialog, &units);
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(units.right, client.right);
    EXPECT_EQ(units.bottom, client.bottom);
    DestroyWindow(dialog);
}

std::wstring VersionValue(const std::vector<BYTE>& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904e4\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || !value) return L"(missing)";
    return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(VersionRecord, OfTheBuiltDll) {
    const std::wstring dll = svtest::ExecutableFolder() + L"Sonavire.dll";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(dll.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(dll.c_str(), 0, size, block.data()));
    EXPECT_EQ(L"Sonavire Dynamic Link Library", VersionValue(block, L"FileDescription"));
    EXPECT_EQ(L"0.1.01.53", VersionValue(block, L"FileVersion"));
    EXPECT_EQ(L"0.1.01.53", VersionValue(block, L"ProductVersion"));
    EXPECT_EQ(L"Sonavire plug-in", VersionValue(block, L"InternalName"));
    EXPECT_EQ(L"Sonavire.dll", VersionValue(block, L"OriginalFilename"));
    EXPECT_EQ(L"Sonavire", VersionValue(block, L"ProductName"));

    struct Translation {
        WORD language, codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(Translation));
    EXPECT_EQ(0x0409, translation->language);
    EXPECT_EQ(1252, translation->codePage);

    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(1, 0), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(53, 1), fixed->dwFileVersionLS);
}

}  // namespace
