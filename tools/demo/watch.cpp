// sonavire-watch: prints what the plug-in's main window shows while the stand-in player runs in
// another process: its status text and the address of its browse pane, each time they change.
// It reads them from outside, as an accessibility tool would: WM_GETTEXT on the status line and
// the browse pane, every millisecond or so (a "Loading" text from a local service lasts a few).
// Times count from the moment the player's window appears. Ends when the player's window has come
// and gone, or after --timeout seconds.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kPlayerClass[] = L"WMPlayerApp";
constexpr wchar_t kMainWindowClass[] = L"SVPluginWindow";
constexpr wchar_t kStatusLineClass[] = L"SVPluginStatus";
constexpr wchar_t kBrowsePaneClass[] = L"SVPluginBrowse";
constexpr DWORD kPollMs = 1;
constexpr UINT kAnswerMs = 500;

LARGE_INTEGER g_start;

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - g_start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Same layout as the player's record, so the two read as one.
void Print(const char* kind, const std::string& text) {
    std::printf("%9.3f %-6s %s\n", Seconds(), kind, text.c_str());
    std::fflush(stdout);
}

// The text of a window in another process: GetWindowText does not ask other processes' controls.
bool TextOf(HWND hwnd, std::wstring& text) {
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, kAnswerMs,
                             &copied)) {
        return false;
    }
    text.assign(buffer, static_cast<size_t>(copied));
    return true;
}

struct Search {
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK FindClass(HWND hwnd, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    if (std::wcscmp(name, search->className) != 0) return TRUE;
    search->found = hwnd;
    return FALSE;
}

// The first descendant of a class, in the order EnumChildWindows walks them.
HWND FindDescendant(HWND parent, const wchar_t* className) {
    Search search{className, nullptr};
    EnumChildWindows(parent, &FindClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The browse pane is the first of the two panes of its class to be made (the advert pane is the
// other); whichever end of the z-order new windows go to, it is the one not showing the advert.
HWND FindBrowsePane(HWND mainWindow) {
    HWND panes[2] = {nullptr, nullptr};
    int count = 0;
    for (HWND child = GetWindow(mainWindow, GW_CHILD); child && count < 2; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (std::wcscmp(name, kBrowsePaneClass) == 0) panes[count++] = child;
    }
    for (HWND pane : panes) {
        std::wstring address;
        if (pane && TextOf(pane, address) && address.find(L"lyricsAd") == std::wstring::npos) return pane;
    }
    return panes[0];
}

}  // namespace

int main(int argc, char** argv) {
    double timeout = 600.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeout = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: sonavire-watch [--timeout SECONDS]\n");
            return 2;
        }
    }
    QueryPerformanceCounter(&g_start);

    bool playerSeen = false;
    HWND mainWindow = nullptr, statusLine = nullptr, browse = nullptr;
    std::wstring status, address;
    bool haveStatus = false;
    for (unsigned poll = 0; Seconds() < timeout; ++poll, Sleep(kPollMs)) {
        // The windows are looked for again now and then: the player may load the plug-in anew.
        if (poll % 64 == 0 || !IsWindow(statusLine)) {
            const HWND player = FindWindowW(kPlayerClass, nullptr);
            if (!player) {
                if (playerSeen) break;
                continue;
            }
            if (!playerSeen) QueryPerformanceCounter(&g_start);
            playerSeen = true;
            const HWND main = FindDescendant(player, kMainWindowClass);
            if (main != mainWindow) {
                Print("watch", main ? "plug-in window made" : "plug-in window gone");
                mainWindow = main;
                haveStatus = false;
                address.clear();
            }
            statusLine = main ? FindDescendant(main, kStatusLineClass) : nullptr;
            browse = main ? FindBrowsePane(main) : nullptr;
        }
        std::wstring text;
        if (statusLine && TextOf(statusLine, text) && (!haveStatus || text != status)) {
            status = text;
            haveStatus = true;
            Print("status", text.empty() ? std::string("(blank)") : Utf8(text));
        }
        if (browse && poll % 16 == 0 && TextOf(browse, text) && !text.empty() && text != address) {
            address = text;
            Print("page", Utf8(text));
        }
    }
    return playerSeen ? 0 : 1;
}
