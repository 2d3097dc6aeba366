// The commands around the lyrics, on the real main window: the action buttons' faces and clicks,
// the status line, the plug-in's menu, the sign-in dialog and the Translate menu, driven as a user
// drives them (the dialogs and menus from a second thread, while their own loops run here).
#include <thread>

#include "pane_test_support.h"
#include "plugin_window_fixture.h"
#include "resources/resource_ids.h"

namespace {

using namespace svtest;

// The four faces of bitmap 103 as 32-bit pixels, to tell which one a button shows.
class ButtonFaces {
public:
    ButtonFaces() {
        sv::UniqueBitmap strip(static_cast<HBITMAP>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BUTTON_FACES), IMAGE_BITMAP, 0, 0, 0)));
        BITMAP info{};
        GetObjectW(strip.get(), sizeof(info), &info);
        width_ = info.bmWidth / 4;
        height_ = info.bmHeight;
        BITMAPINFO header{};
        header.bmiHeader = {sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB};
        pixels_.resize(static_cast<size_t>(info.bmWidth) * info.bmHeight);
        HDC screen = GetDC(nullptr);
        GetDIBits(screen, strip.get(), 0, info.bmHeight, pixels_.data(), &header, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
    }
    COLORREF At(int face, int x, int y) const {
        const uint32_t p = pixels_[static_cast<size_t>(y) * width_ * 4 + face * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // The face whose left edge (where no label reaches) matches the button drawn in item.
    int Shown(const Capture& list, const RECT& item) const {
        const int left = item.left + ((item.right - item.left) - width_) / 2;
        const int top = item.top + ((item.bottom - item.top) - height_) / 2;
        for (int face = 0; face < 4; ++face) {
            bool same = true;
            for (int y = 0; y < height_ && same; ++y)
                for (int x = 0; x < 8 && same; ++x) same = list.At(left + x, top + y) == At(face, x, y);
            if (same) return face;
        }
        return -1;
    }

private:
    int width_ = 0, height_ = 0;
    std::vector<uint32_t> pixels_;
};

RECT ItemRect(HWND list, int index) {
    RECT item{};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return item;
}

// The first visible window of a class that a thread owns (other than except), waited for with a
// deadline.
struct ThreadWindowSearch {
    const wchar_t* className;
    HWND except;
    HWND found;
};
BOOL CALLBACK MatchThreadWindow(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<ThreadWindowSearch*>(data);
    if (hwnd == search->except || ClassOf(hwnd) != search->className || !IsWindowVisible(hwnd)) return TRUE;
    search->found = hwnd;
    return FALSE;
}
HWND WaitForThreadWindow(DWORD thread, const wchar_t* className, HWND except = nullptr, DWORD timeoutMs = 10000) {
    ThreadWindowSearch search{className, except, nullptr};
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!search.found && GetTickCount64() < deadline) {
        EnumThreadWindows(thread, &MatchThreadWindow, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(5);
    }
    return search.found;
}

// The sign-in dialog's message line once the check under way has been answered.
std::wstring WaitForCheck(HWND dialog, DWORD timeoutMs = 10000) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!IsWindowEnabled(GetDlgItem(dialog, IDC_SIGN_IN_BUTTON)) && GetTickCount64() < deadline) Sleep(5);
    return TextOf(GetDlgItem(dialog, IDC_SIGN_IN_MESSAGE));
}

class CommandsTest : public PluginWindowTest {
protected:
    HWND List() { return Window().ActionBar().ListWindow(); }
    std::wstring Label(int command) {
        sv::CommandInfo info;
        info.id = static_cast<uint16_t>(command);
        Window().DescribeCommand(info);
        return info.label;
    }
    // The commands posted to the main window and not yet handled, in order.
    std::vector<int> TakePostedCommands() {
        std::vector<int> commands;
        MSG message;
        while (PeekMessageW(&message, Window().Hwnd(), WM_COMMAND, WM_COMMAND, PM_REMOVE))
            commands.push_back(LOWORD(message.wParam));
        return commands;
    }
    const DWORD uiThread_ = GetCurrentThreadId();
};

TEST_F(CommandsTest, TheActionButtonsShowTheirCommandsStateInFaceAndLabel) {
    LoadPlugin();
    const ButtonFaces faces;
    struct Expected {
        int command, face;
        std::wstring label;
    };
    auto check = [&](const std::vector<Expected>& buttons) {
        const Capture list = PaintAndCapture(List());
        for (const Expected& button : buttons) {
            SCOPED_TRACE(button.command);
            const RECT item = ItemRect(List(), Window().ActionBar().FindItem(button.command));
            EXPECT_EQ(button.face, faces.Shown(list, item));
            EXPECT_EQ(button.label, Label(button.command));
            const int grey = list.Count(item, sv::CSVPluginAction::kDisabledTextColour);
            EXPECT_EQ(button.face == 3, grey > 20) << grey << " grey label pixels";
        }
    };
    check({{CMD_TRANSLATE, 3, L"    Translate    \u00bb"},
           {CMD_RESYNC, 3, L"Re-sync song"},
           {CMD_SCROLL_LYRICS, 3, L"Scroll Lyrics"}});

    Window().SetDocument(MakeDocument(sv::LyricsStatus::Timed, 5));
    SendMessageW(Window().Hwnd(), WM_COMMAND, CMD_SCROLL_LYRICS, 0);
    check({{CMD_TRANSLATE, 0, L"    Translate    \u00bb"},
           {CMD_RESYNC, 0, L"Re-sync song"},
           {CMD_SCROLL_LYRICS, 2, L"Cancel Scroll"}});

    ASSERT_TRUE(Window().Languages().AddLanguage(u"Deutsch", u"de"));
    ASSERT_TRUE(Window().Languages().Select(2));
    Window().ActionBar().RefreshItem(CMD_TRANSLATE);
    check({{CMD_TRANSLATE, 2, L"    Translate    \u00bb"}});
}

TEST_F(CommandsTest, AButtonSendsItsCommandWhenReleasedWhereItWasPressed) {
    LoadPlugin();
    Window().SetDocument(MakeDocument(sv::LyricsStatus::Timed, 5));
    TakePostedCommands();
    const HWND list = List();
    auto at = [&](int index) {
        const RECT item = ItemRect(list, index);
        return MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    };
    auto pressed = [&](int index) {
        return (HIWORD(SendMessageW(list, LB_GETITEMDATA, index, 0)) & sv::CSVActionList::kPressedBit) != 0;
    };
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at(1));  // "Re-sync song"
    EXPECT_TRUE(pressed(1));
    SendMessageW(list, WM_MOUSEMOVE, MK_LBUTTON, at(2));
    EXPECT_FALSE(pressed(1)) << "moving off a held button releases its face";
    SendMessageW(list, WM_MOUSEMOVE, MK_LBUTTON, at(1));
    EXPECT_TRUE(pressed(1)) << "moving back restores it";
    SendMessageW(list, WM_LBUTTONUP, 0, at(1));
    EXPECT_FALSE(pressed(1));
    EXPECT_EQ(std::vector<int>{CMD_RESYNC}, TakePostedCommands());

    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at(0));
    SendMessageW(list, WM_LBUTTONUP, 0, at(2));
    EXPECT_TRUE(TakePostedCommands().empty()) << "released over another button";

    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at(2));
    SendMessageW(list, WM_LBUTTONUP, 0, at(2));
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at(2));
    SendMessageW(list, WM_LBUTTONUP, 0, at(2));
    EXPECT_EQ((std::vector<int>{CMD_SCROLL_LYRICS, CMD_SCROLL_LYRICS}), TakePostedCommands()) << "a double click";
}

TEST_F(CommandsTest, TheStatusLineDrawsTheTextWhileLinesAreShown) {
    LoadPlugin();
    const HWND line = Window().StatusLine().Hwnd();
    Window().SetDocument(MakeDocument(sv::LyricsStatus::Untimed, 4));  // re-sync starts: status 201
    ASSERT_EQ(IDS_STATUS_CLICK_TO_ADVANCE, Status().statusTextId);
    const Capture shown = PaintAndCapture(line);
    EXPECT_EQ(sv::CSVPluginStatus::kEdgeColour, shown.At(shown.width() / 2, 0)) << "the top edge";
    EXPECT_GT(shown.Count(RECT{0, 1, 220, shown.height()}, sv::STATUS_COLOUR), 20) << "the text at the top left";
    Window().StopResync();  // status 200
    const Capture empty = PaintAndCapture(line);
    EXPECT_EQ(0, empty.Count(RECT{0, 0, empty.width(), empty.height()}, sv::STATUS_COLOUR));
}

TEST_F(CommandsTest, TheMenuIsRefreshedBeforeItOpens) {
    LoadPlugin();
    sv::UniqueMenu menu(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_PLUGIN_MENU)));
    const HMENU popup = GetSubMenu(menu.get(), 0);
    AppendMenuW(popup, MF_STRING, CMD_NONE, L"kept & as stored");
    auto text = [&](UINT id) {
        wchar_t buffer[128] = {};
        GetMenuStringW(popup, id, buffer, 128, MF_BYCOMMAND);
        return std::wstring(buffer);
    };
    auto grayed = [&](UINT id) { return (GetMenuState(popup, id, MF_BYCOMMAND) & MF_GRAYED) != 0; };
    sv::PluginSettings& settings = sv::Settings();
    settings.SetCredentials(L"anna", L"");
    Window().SetDocument(MakeDocument(sv::LyricsStatus::NotFound, 0));
    SendMessageW(Window().Hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 0);
    EXPECT_EQ(L"Sign-in", text(CMD_SIGN_IN)) << "a name without a password is not signed in";
    EXPECT_TRUE(grayed(CMD_RESYNC)) << "nothing to re-time";
    EXPECT_FALSE(grayed(CMD_LYRICS_SEARCH));
    EXPECT_EQ(L"kept & as stored", text(CMD_NONE));
    EXPECT_FALSE(grayed(CMD_NONE));

    settings.SetCredentials(L"anna", L"secret");
    SendMessageW(Window().Hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 0);
    EXPECT_EQ(L"Sign-out", text(CMD_SIGN_IN));
    settings.SignOut();
}

TEST_F(CommandsTest, PageCommandsOpenTheirPagesInTheBrowsePane) {
    LoadPlugin();
    const sv::PluginSettings& settings = sv::Settings();
    SendMessageW(Window().Hwnd(), WM_COMMAND, CMD_LYRICS_SEARCH, 0);
    EXPECT_EQ(L"http://" + StandinHost() +
                  L"/wiki/community-winmo/community-lyricSearch.php?lang=&artist=&title=&album=&videoId=&vidSrc="
                  L"&user=" +
                  std::wstring(settings.userName) + L"&device=1000&resolution=" +
                  std::to_wstring(settings.screenWidth) + L"x" + std::to_wstring(settings.screenHeight),
              Window().BrowsePane().CurrentAddress());
    SendMessageW(Window().Hwnd(), WM_COMMAND, CMD_TELL_A_FRIEND, 0);
    EXPECT_EQ(L"mailto:", Window().BrowsePane().CurrentAddress());
    // Ids that are no command, and the commands that need a document while none is shown.
    const std::wstring address = Window().BrowsePane().CurrentAddress();
    for (const WPARAM ignored : {CMD_NONE, 100, 150, 0xFFFF, CMD_EDIT_LYRICS, CMD_TRANSLATE, CMD_RESYNC,
                                 CMD_SCROLL_LYRICS, CMD_LYRICS_EARLIER, CMD_RESET_TIMING}) {
        SendMessageW(Window().Hwnd(), WM_COMMAND, ignored, 0);
    }
    EXPECT_EQ(address, Window().BrowsePane().CurrentAddress()) << "no page opened";
    EXPECT_EQ(nullptr, Window().ShownDocument());
}

TEST_F(CommandsTest, SignInRefusesInRedThenSignsInAndSignOutForgetsTheStoredValues) {
    service_.AddUser("anna", "secret");
    LoadPlugin();
    std::wstring refusal, shownUser, shownPassword;
    int redPixels = 0;
    std::thread user([&] {
        HWND dialog = WaitForThreadWindow(uiThread_, L"#32770");
        if (!dialog) return;
        SetDlgItemTextW(dialog, IDC_SIGN_IN_USER, L"anna");
        SetDlgItemTextW(dialog, IDC_SIGN_IN_PASSWORD, L"wrong");
        SendMessageW(GetDlgItem(dialog, IDC_SIGN_IN_BUTTON), BM_CLICK, 0, 0);
        refusal = WaitForCheck(dialog);
        const Capture line(GetDlgItem(dialog, IDC_SIGN_IN_MESSAGE));
        redPixels = line.Count(RECT{0, 0, line.width(), line.height()}, RGB(255, 0, 0));
        SetDlgItemTextW(dialog, IDC_SIGN_IN_PASSWORD, L"secret");
        PostMessageW(GetDlgItem(dialog, IDC_SIGN_IN_BUTTON), BM_CLICK, 0, 0);
        // The signed-in notice, over the dialog.
        if (const HWND notice = WaitForThreadWindow(uiThread_, L"#32770", dialog)) {
            PostMessageW(notice, WM_COMMAND, IDOK, 0);
        }
    });
    Window().ExecuteCommand(CMD_SIGN_IN);
    user.join();
    EXPECT_EQ(Text(IDS_SIGN_IN_REFUSED), refusal);
    EXPECT_GT(redPixels, 20) << "the refusal is drawn in red";
    EXPECT_EQ(L"Sign-out", Label(CMD_SIGN_IN));
    ASSERT_TRUE(key_->GetUser(L"Password"));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), key_->GetUser(L"Password")->type) << "stored encrypted";

    // Signing out asks first, then forgets the stored values too: the next dialog starts empty.
    std::thread answer([&] {
        const HWND question = WaitForThreadWindow(uiThread_, L"#32770");
        if (question) PostMessageW(question, WM_COMMAND, IDYES, 0);
    });
    Window().ExecuteCommand(CMD_SIGN_IN);
    answer.join();
    EXPECT_EQ(L"Sign-in", Label(CMD_SIGN_IN));
    std::thread look([&] {
        const HWND dialog = WaitForThreadWindow(uiThread_, L"#32770");
        if (!dialog) return;
        shownUser = TextOf(GetDlgItem(dialog, IDC_SIGN_IN_USER));
        shownPassword = TextOf(GetDlgItem(dialog, IDC_SIGN_IN_PASSWORD));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SIGN_IN_CANCEL, BN_CLICKED), 0);
    });
    Window().ExecuteCommand(CMD_SIGN_IN);
    look.join();
    EXPECT_FALSE(key_->GetUser(L"Password") || key_->GetUser(L"UserName"));
    EXPECT_EQ(L"", shownUser);
    EXPECT_EQ(L"", shownPassword);
}

TEST_F(CommandsTest, TheSignInCheckWaitsOffThePlayersThreadAndCancelDropsItsAnswer) {
    constexpr char kSignInPath[] = "/sonavire/services/appVerifyUser.php";
    service_.AddUser("anna", "secret");
    service_.SetBehaviour(kSignInPath, "delay", 2500);
    LoadPlugin();
    // The language list's worker is done before the count without workers is taken.
    ASSERT_TRUE(PumpUntil([&] { return !Window().Languages().entries().empty(); }));
    const long idleLocks = sv::ModuleLockCount();
    std::wstring waitingText;
    bool fieldsEnabled = true, cancelEnabled = false;
    bool answered = false;
    ULONGLONG answeredMs = 0;
    std::thread user([&] {
        const HWND dialog = WaitForThreadWindow(uiThread_, L"#32770");
        if (!dialog) return;
        SetDlgItemTextW(dialog, IDC_SIGN_IN_USER, L"anna");
        SetDlgItemTextW(dialog, IDC_SIGN_IN_PASSWORD, L"secret");
        SendMessageW(GetDlgItem(dialog, IDC_SIGN_IN_BUTTON), BM_CLICK, 0, 0);
        service_.WaitForRequests(kSignInPath, 1);
        // The player's thread answers while the service keeps the check waiting.
        const ULONGLONG start = GetTickCount64();
        DWORD_PTR ignored = 0;
        answered = SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_BLOCK, 2000, &ignored) != 0;
        answeredMs = GetTickCount64() - start;
        waitingText = TextOf(GetDlgItem(dialog, IDC_SIGN_IN_MESSAGE));
        fieldsEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_SIGN_IN_USER)) ||
                        IsWindowEnabled(GetDlgItem(dialog, IDC_SIGN_IN_PASSWORD)) ||
                        IsWindowEnabled(GetDlgItem(dialog, IDC_SIGN_IN_BUTTON));
        cancelEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_SIGN_IN_CANCEL));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SIGN_IN_CANCEL, BN_CLICKED), 0);
    });
    const ULONGLONG opened = GetTickCount64();
    Window().ExecuteCommand(CMD_SIGN_IN);
    const ULONGLONG dialogMs = GetTickCount64() - opened;
    user.join();
    EXPECT_TRUE(answered);
    EXPECT_LT(answeredMs, 500u);
    EXPECT_EQ(L"Signing in...", waitingText);
    EXPECT_FALSE(fieldsEnabled);
    EXPECT_TRUE(cancelEnabled);
    EXPECT_LT(dialogMs, 2500u) << "Cancel ends the dialog without waiting for the check";
    // The service's late "true" is dropped: nobody is signed in, and no notice opens.
    ASSERT_TRUE(PumpUntil([&] { return sv::ModuleLockCount() <= idleLocks; }));
    PumpPending();
    EXPECT_EQ(nullptr, WaitForThreadWindow(uiThread_, L"#32770", nullptr, 200));
    EXPECT_EQ(L"Sign-in", Label(CMD_SIGN_IN));
    EXPECT_FALSE(key_->GetUser(L"Password"));
}

TEST_F(CommandsTest, TheTranslateMenuOffersTheLanguagesAndAChoiceRefetchesInIt) {
    LoadPlugin();  // the languages come from the stand-in: de, fr
    engine_->Open(0, true);
    Deliver();
    ASSERT_TRUE(WaitForShown(u"Night Train", sv::MediaSource::Player));
    ASSERT_TRUE(PumpUntil([&] { return Window().Languages().entries().size() == 3; }));
    ASSERT_TRUE(Window().Languages().AddLanguage(u"Rock & Roll", u"rr"));  // an "&" is no mnemonic
    std::vector<std::pair<UINT, std::wstring>> items;
    UINT checked = 0;
    std::thread user([&] {
        const HWND popup = WaitForThreadWindow(uiThread_, L"#32768");
        if (!popup) return;
        const HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[64] = {};
            GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
            items.emplace_back(GetMenuItemID(menu, i), text);
            if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_CHECKED) checked = GetMenuItemID(menu, i);
        }
        for (const WPARAM key : {VK_DOWN, VK_DOWN, VK_RETURN}) PostMessageW(popup, WM_KEYDOWN, key, 0);  // Deutsch
    });
    service_.ClearRequests();
    Window().ExecuteCommand(CMD_TRANSLATE);
    user.join();
    const std::vector<std::pair<UINT, std::wstring>> expected = {
        {1, L"no translation"}, {0, L""}, {2, L"Deutsch"}, {3, L"Fran\u00e7ais"}, {4, L"Rock && Roll"}};
    EXPECT_EQ(expected, items);
    EXPECT_EQ(1u, checked);
    EXPECT_EQ(std::wstring(L"de", 3), key_->GetUser(L"Translation")->Text());
    const auto requests = service_.WaitForRequests(kFetchPath, 1);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("de", requests[0].Query("lang"));
}

}  // namespace
