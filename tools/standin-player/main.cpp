// standin-player: a small stand-in for Windows Media Player that loads a settings-area UI plug-in
// and "plays" a playlist (no audio: a clock runs), raising the player's events as a real player
// does. Driven from its command line; writes a timed record of everything between it and the
// plug-in.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <type_traits>
#include <string>
#include <vector>

#include "call_log.h"
#include "base/win_handles.h"
#include "player_engine.h"
#include "player_window.h"
#include "playlist.h"
#include "standin_browser.h"
#include "window/dpi.h"

using namespace sv;
using namespace sv::standin;

namespace {

constexpr char kUsage[] =
    "usage: standin-player [options]\n"
    "  --playlist FILE     tracks, one a line: artist<TAB>title<TAB>album<TAB>media type<TAB>length\n"
    "  --play              start playing the first track at once\n"
    "  --clsid {GUID}      the plug-in class to load (default: Sonavire)\n"
    "  --no-plugin         load no plug-in\n"
    "  --version TEXT      the version text the player reports (default 12.0.7601.24150)\n"
    "  --size WxH          client size of the player window at 96 dpi (default 900x640); it grows\n"
    "                      with the DPI the window is shown at\n"
    "  --dpi N             show the player at N dpi: the player declares itself per-monitor DPI aware\n"
    "                      and, when the system shows it at another DPI, moves it to a screen of N dpi\n"
    "                      once the plug-in is loaded (as dpi=N does)\n"
    "  --log FILE          write the record of calls and events as it grows (\"-\": standard output)\n"
    "  --read-lyrics       record each line the lyrics pane shows bright (its window text, as a\n"
    "                      screen reader reads it) with the playback position and the system time\n"
    "                      (since 1970, UTC), both in milliseconds\n"
    "  --standin-browser   the plug-in's browser panes get the stand-in browser (pages and their\n"
    "                      scripts, drawn as text) instead of the system's Web Browser control\n"
    "  --at SECONDS ACTION at that time after start: play, pause, stop, next, end, open=N (track N,\n"
    "                      from 1), seek=SECONDS, snapshot=FILE.bmp, rescan, quit, page=SCRIPT (runs\n"
    "                      SCRIPT in the page of the first stand-in browser: the browse pane's), and\n"
    "                      what a user does: click=X,Y or rclick=X,Y (a point of the plug-in window's\n"
    "                      client area), press=ID (the action button of command ID), menu=ID (the next\n"
    "                      menu that opens chooses its item ID; 0 dismisses it), type=ID:TEXT (the text\n"
    "                      of control ID of the open dialog), button=ID (clicks button ID of the open\n"
    "                      dialog or message box), dpi=N (the window moves to a screen of N dpi:\n"
    "                      WM_DPICHANGED with the size scaled, as a per-monitor aware window gets it)\n"
    "  --quit-after SECONDS  the same as --at SECONDS quit\n";

struct Action {
    double at;
    std::wstring name;
    std::wstring argument;
};

struct Options {
    std::wstring playlist;
    bool play = false;
    bool loadPlugin = true;
    bool hasClassId = false;
    CLSID classId{};
    std::wstring version;
    int width = 900;
    int height = 640;
    std::wstring logPath;
    bool readLyrics = false;
    bool standinBrowser = false;
    int dpi = 0;  // none asked for
    std::vector<Action> actions;
};

struct LocalFreeDeleter {
    void operator()(LPWSTR* p) const { LocalFree(p); }
};

bool ParseSeconds(const wchar_t* text, double& seconds) {
    wchar_t* end = nullptr;
    seconds = std::wcstod(text, &end);
    return end != text && *end == L'\0' && seconds >= 0.0;
}

// A DPI a screen can have, else 0.
int ParseDpi(const wchar_t* text) {
    wchar_t* end = nullptr;
    const long dpi = std::wcstol(text, &end, 10);
    return end != text && *end == L'\0' && dpi >= 48 && dpi <= kLargestDpi ? static_cast<int>(dpi) : 0;
}

bool ParseAction(double at, const std::wstring& text, Action& action) {
    const size_t equals = text.find(L'=');
    action.at = at;
    action.name = text.substr(0, equals);
    action.argument = equals == std::wstring::npos ? std::wstring() : text.substr(equals + 1);
    static const wchar_t* const plain[] = {L"play", L"pause", L"stop", L"next", L"end", L"rescan", L"quit"};
    for (const wchar_t* name : plain) {
        if (action.name == name) return action.argument.empty();
    }
    if (action.name == L"seek") {
        double seconds;
        return ParseSeconds(action.argument.c_str(), seconds);
    }
    if (action.name == L"open") return !action.argument.empty() && _wtoi(action.argument.c_str()) >= 1;
    if (action.name == L"snapshot" || action.name == L"page") return !action.argument.empty();
    if (action.name == L"click" || action.name == L"rclick") {
        int x = 0, y = 0;
        return swscanf(action.argument.c_str(), L"%d,%d", &x, &y) == 2;
    }
    if (action.name == L"press" || action.name == L"menu" || action.name == L"button") {
        return !action.argument.empty() &&
               std::wcsspn(action.argument.c_str(), L"0123456789") == action.argument.size();
    }
    if (action.name == L"type") return action.argument.find(L':') != std::wstring::npos;
    if (action.name == L"dpi") return ParseDpi(action.argument.c_str()) != 0;
    return false;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring option = argv[i];
        auto next = [&](const wchar_t*& value) {
            if (i + 1 >= argc) {
                error = Narrow(option.c_str()) + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        const wchar_t* value = nullptr;
        if (option == L"--playlist") {
            if (!next(value)) return false;
            options.playlist = value;
        } else if (option == L"--play") {
            options.play = true;
        } else if (option == L"--no-plugin") {
            options.loadPlugin = false;
        } else if (option == L"--clsid") {
            if (!next(value)) return false;
            if (FAILED(CLSIDFromString(value, &options.classId))) {
                error = "--clsid: not a class id: " + Narrow(value);
                return false;
            }
            options.hasClassId = true;
        } else if (option == L"--version") {
            if (!next(value)) return false;
            options.version = value;
        } else if (option == L"--size") {
            if (!next(value)) return false;
            if (swscanf(value, L"%dx%d", &options.width, &options.height) != 2 || options.width < 100 ||
                options.height < 100) {
                error = "--size: expected WxH, at least 100x100";
                return false;
            }
        } else if (option == L"--dpi") {
            if (!next(value)) return false;
            options.dpi = ParseDpi(value);
            if (options.dpi == 0) {
                error = "--dpi: expected a DPI from 48 to " + std::to_string(kLargestDpi);
                return false;
            }
        } else if (option == L"--read-lyrics") {
            options.readLyrics = true;
        } else if (option == L"--standin-browser") {
            options.standinBrowser = true;
        } else if (option == L"--log") {
            if (!next(value)) return false;
            options.logPath = value;
        } else if (option == L"--at" || option == L"--quit-after") {
            if (!next(value)) return false;
            double at;
            if (!ParseSeconds(value, at)) {
                error = Narrow(option.c_str()) + ": not a time in seconds: " + Narrow(value);
                return false;
            }
            std::wstring actionText = L"quit";
            if (option == L"--at") {
                if (!next(value)) return false;
                actionText = value;
            }
            Action action;
            if (!ParseAction(at, actionText, action)) {
                error = "unknown action: " + Narrow(actionText.c_str());
                return false;
            }
            options.actions.push_back(action);
        } else {
            error = "unknown option: " + Narrow(option.c_str());
            return false;
        }
    }
    std::stable_sort(options.actions.begin(), options.actions.end(),
                     [](const Action& a, const Action& b) { return a.at < b.at; });
    return true;
}

std::vector<Track> SamplePlaylist() {
    return {
        Track::Audio(L"Sonavire Sample Band", L"First Light", L"Stand-in Sessions", 40.0),
        Track::Audio(L"Sonavire Sample Band", L"Second Wind", L"Stand-in Sessions", 35.0),
        Track::Audio(L"The Placeholders", L"Untimed Song", L"", 30.0),
    };
}

double SecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// What a user does to the plug-in, from this process: mouse messages at points of its windows,
// a choice in the next menu that opens, text and clicks in the open dialog.
class UserInput {
public:
    explicit UserInput(PlayerWindow& window) : window_(window) {}

    // A click at a point of the plug-in's main window, delivered to the window under it.
    bool Click(int x, int y, bool right) {
        const HWND main = MainWindow();
        if (!main) return false;
        POINT point{x, y};
        HWND target = main;
        for (;;) {
            const HWND child = ChildWindowFromPointEx(target, point, CWP_SKIPINVISIBLE | CWP_SKIPDISABLED);
            if (!child || child == target) break;
            MapWindowPoints(target, child, &point, 1);
            target = child;
        }
        ClickAt(target, point, right);
        return true;
    }

    // A click on the action button of a command.
    bool Press(int command) {
        const HWND list = FindDescendant(MainWindow(), L"SVActionList");
        if (!list) return false;
        const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            if (LOWORD(SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0)) != command) continue;
            RECT item{};
            SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
            ClickAt(list, POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2}, false);
            return true;
        }
        return false;
    }

    // The next menu that opens chooses the item with this id (0: the menu is dismissed).
    void ChooseInNextMenu(UINT id) {
        pendingMenuChoice_ = id;
        hasPendingMenuChoice_ = true;
    }
    // Called every tick: a menu that has opened gets the pending choice, by the keys a user presses.
    void Poll() {
        if (!hasPendingMenuChoice_) return;
        const HWND popup = FindWindowW(L"#32768", nullptr);
        if (!popup || !IsWindowVisible(popup)) return;
        const HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
        if (!menu) return;
        hasPendingMenuChoice_ = false;
        if (pendingMenuChoice_ == 0) {
            PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
            return;
        }
        int steps = 0;
        const int count = GetMenuItemCount(menu);
        for (int position = 0; position < count; ++position) {
            const UINT state = GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION);
            if (state & MF_SEPARATOR) continue;
            ++steps;
            if (GetMenuItemID(menu, position) == pendingMenuChoice_) {
                for (int i = 0; i < steps; ++i) PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
                PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
                return;
            }
        }
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);  // no such item
    }

    // The open dialog (or message box) of this thread.
    static HWND OpenDialog() {
        HWND found = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&found));
        return found;
    }

private:
    static BOOL CALLBACK FindDialog(HWND hwnd, LPARAM found) {
        wchar_t name[16] = {};
        GetClassNameW(hwnd, name, 16);
        if (std::wcscmp(name, L"#32770") != 0 || !IsWindowVisible(hwnd)) return TRUE;
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    static BOOL CALLBACK MatchClass(HWND hwnd, LPARAM search) {
        auto* wanted = reinterpret_cast<std::pair<const wchar_t*, HWND>*>(search);
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        if (std::wcscmp(name, wanted->first) != 0) return TRUE;
        wanted->second = hwnd;
        return FALSE;
    }
    static HWND FindDescendant(HWND parent, const wchar_t* className) {
        if (!parent) return nullptr;
        std::pair<const wchar_t*, HWND> search{className, nullptr};
        EnumChildWindows(parent, &MatchClass, reinterpret_cast<LPARAM>(&search));
        return search.second;
    }
    HWND MainWindow() const {
        const HWND host = window_.HostWindow();
        return host ? FindDescendant(host, L"SVPluginWindow") : nullptr;
    }
    static void ClickAt(HWND target, POINT point, bool right) {
        const LPARAM at = MAKELPARAM(point.x, point.y);
        PostMessageW(target, WM_MOUSEMOVE, 0, at);
        PostMessageW(target, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON, at);
        PostMessageW(target, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, at);
    }

    PlayerWindow& window_;
    UINT pendingMenuChoice_ = 0;
    bool hasPendingMenuChoice_ = false;
};

void RunUserAction(const Action& action, PlayerEngine& engine, UserInput& input) {
    bool done = false;
    if (action.name == L"click" || action.name == L"rclick") {
        int x = 0, y = 0;
        swscanf(action.argument.c_str(), L"%d,%d", &x, &y);
        done = input.Click(x, y, action.name == L"rclick");
    } else if (action.name == L"press") {
        done = input.Press(_wtoi(action.argument.c_str()));
    } else if (action.name == L"menu") {
        input.ChooseInNextMenu(static_cast<UINT>(_wtoi(action.argument.c_str())));
        done = true;
    } else if (action.name == L"type" || action.name == L"button") {
        const HWND dialog = UserInput::OpenDialog();
        if (dialog && action.name == L"type") {
            const size_t colon = action.argument.find(L':');
            done = SetDlgItemTextW(dialog, _wtoi(action.argument.substr(0, colon).c_str()),
                                   action.argument.substr(colon + 1).c_str()) != FALSE;
        } else if (dialog) {
            const HWND button = GetDlgItem(dialog, _wtoi(action.argument.c_str()));
            if (button) PostMessageW(button, BM_CLICK, 0, 0);
            done = button != nullptr;
        }
    }
    engine.Log().Add(LogKind::Player, "player." + Narrow(action.name.c_str()) + "(" + Narrow(action.argument.c_str()) +
                                          (done ? ")" : ") found nothing"));
}

void RunAction(const Action& action, PlayerEngine& engine, PlayerWindow& window, UserInput& input) {
    if (action.name == L"play") {
        engine.Play();
    } else if (action.name == L"pause") {
        engine.Pause();
    } else if (action.name == L"stop") {
        engine.Stop();
    } else if (action.name == L"next") {
        engine.Next();
    } else if (action.name == L"end") {
        engine.EndCurrentTrack();
    } else if (action.name == L"open") {
        engine.Open(_wtoi(action.argument.c_str()) - 1, true);
    } else if (action.name == L"seek") {
        engine.Seek(std::wcstod(action.argument.c_str(), nullptr));
    } else if (action.name == L"snapshot") {
        // Events raised so far are delivered first, so the picture shows what they caused.
        engine.DeliverPendingEvents();
        const bool saved = window.SavePicture(action.argument);
        engine.Log().Add(LogKind::Player,
                         "player.snapshot(" + Narrow(action.argument.c_str()) + (saved ? ") saved" : ") failed"));
    } else if (action.name == L"rescan") {
        // Through the registered message, as an installer's broadcast arrives.
        SendMessageW(window.Hwnd(), RegisterWindowMessageW(kPluginAddRemoveMessage), 0, 0);
    } else if (action.name == L"page") {
        const std::vector<StandinBrowser*> browsers = LiveStandinBrowsers();
        const bool ran = !browsers.empty() && browsers.front()->RunScript(action.argument);
        engine.Log().Add(LogKind::Player,
                         "player.page(" + Narrow(action.argument.c_str()) + (ran ? ") ran" : ") failed"));
    } else if (action.name == L"dpi") {
        const int from = window.Dpi();
        window.MoveToScreenOfDpi(ParseDpi(action.argument.c_str()));
        engine.Log().Add(LogKind::Player,
                         Printf("player.dpi(%s) from %d", Narrow(action.argument.c_str()).c_str(), from));
    } else if (action.name == L"quit") {
        engine.Log().Add(LogKind::Player, "player.quit");
        PostMessageW(window.Hwnd(), WM_CLOSE, 0, 0);
    } else {
        RunUserAction(action, engine, input);
    }
}

// The actions of the command line and what they act on, for the timer that runs them.
constexpr UINT kActionTickMs = 10;
struct Schedule {
    const std::vector<Action>* actions = nullptr;
    PlayerEngine* engine = nullptr;
    PlayerWindow* window = nullptr;
    UserInput* input = nullptr;
    size_t next = 0;
    LARGE_INTEGER start{};
};
Schedule g_schedule;

void CALLBACK RunDueActions(HWND, UINT, UINT_PTR, DWORD) {
    Schedule& schedule = g_schedule;
    if (!schedule.actions) return;
    schedule.input->Poll();
    const double now = SecondsSince(schedule.start);
    while (schedule.next < schedule.actions->size() && (*schedule.actions)[schedule.next].at <= now) {
        // The action may open a modal loop (a click that opens a dialog): the next ones run from
        // the ticks that loop dispatches.
        const Action& action = (*schedule.actions)[schedule.next++];
        RunAction(action, *schedule.engine, *schedule.window, *schedule.input);
    }
}

// The system clock in milliseconds since 1970 (UTC): other programs on the machine (the lyrics
// service's request log) stamp their records with it, and under Wine it is the host's clock.
long long SystemTimeMs() {
    using PreciseTime = void(WINAPI*)(LPFILETIME);
    // Windows 8 and later: the precise clock; Windows 7's only ticks every 10-16 ms.
    static const auto precise = reinterpret_cast<PreciseTime>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now{};
    if (precise) {
        precise(&now);
    } else {
        GetSystemTimeAsFileTime(&now);
    }
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    constexpr unsigned long long kTicksFrom1601To1970 = 116444736000000000ULL;
    return static_cast<long long>((ticks.QuadPart - kTicksFrom1601To1970) / 10000ULL);
}

// What a screen reader following the lyrics pane would read: its window text each time it
// changes, recorded with the playback position and the system time at that moment.
PlayerEngine* g_readingEngine = nullptr;

void CALLBACK ReadLyricsLine(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (!g_readingEngine || !hwnd || object != OBJID_WINDOW || child != CHILDID_SELF) return;
    wchar_t className[64] = {};
    if (!GetClassNameW(hwnd, className, 64) || std::wcscmp(className, L"SVPluginLyrics") != 0) return;
    wchar_t text[1024] = {};
    GetWindowTextW(hwnd, text, 1024);
    const double position = g_readingEngine->Position();
    g_readingEngine->Log().Add(LogKind::Player, Printf("player.reads(%.0f ms, system time %lld ms) %s",
                                                       position * 1000.0, SystemTimeMs(), Narrow(text).c_str()));
}

// As a per-monitor aware player declares itself: the newest way the system knows first. (Wine 8
// refuses all but SetProcessDPIAware and shows every process at the system DPI.)
void DeclarePerMonitorAware() {
    using SetContextFunction = BOOL(WINAPI*)(HANDLE);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto setContext = reinterpret_cast<SetContextFunction>(
        reinterpret_cast<void*>(user32 ? GetProcAddress(user32, "SetProcessDpiAwarenessContext") : nullptr));
    if (setContext && (setContext(reinterpret_cast<HANDLE>(-4)) || setContext(reinterpret_cast<HANDLE>(-3)))) return;
    SetProcessDPIAware();
}

struct WinEventHookCloser {
    void operator()(HWINEVENTHOOK hook) const { UnhookWinEvent(hook); }
};

}  // namespace

int main() {
    int argc = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    Options options;
    std::string error;
    if (!argv || !ParseOptions(argc, argv.get(), options, error)) {
        std::fprintf(stderr, "standin-player: %s\n%s", error.c_str(), kUsage);
        return 2;
    }

    std::vector<Track> tracks = SamplePlaylist();
    if (!options.playlist.empty()) {
        auto loaded = LoadPlaylistFile(options.playlist, error);
        if (!loaded) {
            std::fprintf(stderr, "standin-player: %s: %s\n", Narrow(options.playlist.c_str()).c_str(), error.c_str());
            return 2;
        }
        tracks = std::move(*loaded);
    }

    ScopedCoInit com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) {
        std::fprintf(stderr, "standin-player: COM did not start (0x%08lX)\n", static_cast<unsigned long>(com.result()));
        return 3;
    }

    UniqueFileHandle logFile;
    const bool logToStdout = options.logPath == L"-";
    if (!options.logPath.empty() && !logToStdout) {
        logFile.reset(CreateFileW(options.logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!logFile) {
            std::fprintf(stderr, "standin-player: cannot write %s\n", Narrow(options.logPath.c_str()).c_str());
            return 2;
        }
    }

    // Before the plug-in comes: its panes create their browsers as it starts.
    std::unique_ptr<ScopedStandinBrowser> standinBrowser;
    if (options.standinBrowser) standinBrowser = std::make_unique<ScopedStandinBrowser>();

    int exitCode = 0;
    {
        PlayerEngine engine;
        if (logFile || logToStdout) {
            engine.Log().SetListener([&](const LogEntry& entry) {
                const std::string line = CallLog::Format(entry) + "\r\n";
                if (logToStdout) {
                    std::fwrite(line.data(), 1, line.size(), stdout);
                    std::fflush(stdout);
                } else {
                    DWORD written = 0;
                    WriteFile(logFile.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
                }
            });
        }
        if (!options.version.empty()) engine.SetVersionInfo(options.version);
        engine.SetPlaylist(std::move(tracks));

        // An executable's own module: the window classes belong to it.
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        const bool dpiActions = std::any_of(options.actions.begin(), options.actions.end(),
                                            [](const Action& action) { return action.name == L"dpi"; });
        if (options.dpi != 0 || dpiActions) DeclarePerMonitorAware();
        // The size is the one at 96 dpi: at the DPI the window will be shown at it grows.
        const int shownDpi = WindowDpi(nullptr);
        PlayerWindow window(instance, engine);
        window.SetQuitOnDestroy(true);
        RECT frame{0, 0, ScaleForDpi(options.width, shownDpi), ScaleForDpi(options.height, shownDpi)};
        AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
        OffsetRect(&frame, 40 - frame.left, 40 - frame.top);
        if (!window.Create(&frame, true)) {
            std::fprintf(stderr, "standin-player: the player window could not be made (error %lu)\n", GetLastError());
            return 3;
        }
        std::unique_ptr<std::remove_pointer_t<HWINEVENTHOOK>, WinEventHookCloser> reader;
        if (options.readLyrics) {
            g_readingEngine = &engine;
            reader.reset(SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, &ReadLyricsLine,
                                         GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT));
        }
        if (options.hasClassId) window.SetPluginClass(options.classId);
        if (options.loadPlugin) window.LoadPlugin();
        if (options.dpi != 0 && options.dpi != window.Dpi()) {
            // The system shows the player at another DPI (Wine: the prefix's LogPixels): it moves
            // to a screen of the DPI asked for, as a per-monitor aware player would.
            const int from = window.Dpi();
            window.MoveToScreenOfDpi(options.dpi);
            engine.Log().Add(LogKind::Player, Printf("player.dpi(%d) from %d", options.dpi, from));
        }
        if (options.play) engine.Open(0, true);

        // The actions run from a timer, so they run inside the plug-in's menus and dialogs too,
        // whose own loops dispatch timer messages.
        g_schedule = {&options.actions, &engine, &window, nullptr, 0, {}};
        UserInput input(window);
        g_schedule.input = &input;
        QueryPerformanceCounter(&g_schedule.start);
        const UINT_PTR actionTimer = SetTimer(nullptr, 0, kActionTickMs, &RunDueActions);
        RunDueActions(nullptr, WM_TIMER, actionTimer, 0);
        bool running = true;
        while (running) {
            MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    running = false;
                    exitCode = static_cast<int>(message.wParam);
                    break;
                }
                // As the player does: the plug-in sees keystrokes first.
                IWMPPluginUI* plugin = window.Plugin().Plugin();
                if (plugin && message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST &&
                    plugin->TranslateAccelerator(&message) == S_OK) {
                    continue;
                }
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        KillTimer(nullptr, actionTimer);
        g_schedule = {};
        // WM_QUIT may also come from outside (an installer closing the player): end the plug-in
        // the same way in either case.
        window.UnloadPlugin();
        window.Destroy();
        engine.DropAllSinks();
        reader.reset();
        g_readingEngine = nullptr;
        engine.Log().Add(LogKind::Player, "player.exit");
        engine.Log().SetListener(nullptr);
    }
    return exitCode;
}
