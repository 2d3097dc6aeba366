#include "scenarios.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "resources/resource_ids.h"
#include "session.h"
#include "standin_browser.h"
#include "settings/plugin_identity.h"

namespace reliability {
namespace {

using sv::standin::Track;

constexpr char kFetchPath[] = "/sonavire/services/getLyricXML_2";
constexpr char kVersionPath[] = "/sonavire/services/getLyricVerXML.php";
constexpr char kSavePath[] = "/sonavire/services/setLyrics.php";
constexpr char kLanguagesPath[] = "/sonavire/services/getSupportedLanguages.php";
constexpr char kSignInPath[] = "/sonavire/services/appVerifyUser.php";
constexpr DWORD kRoundDeadlineMs = 60000;
constexpr DWORD kQuietDeadlineMs = 60000;

// The plug-in's key as registration left it, pointed at a lyrics service and community site, with
// nobody signed in.
void PointPluginAt(const std::wstring& host) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, sv::kPluginKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    sv::UniqueHkey hold(key);
    for (const wchar_t* name : {L"Lyrics Host", L"Community Host"}) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(host.c_str()),
                       static_cast<DWORD>((host.size() + 1) * sizeof(wchar_t)));
    }
    RegDeleteValueW(key, L"UserName");
    RegDeleteValueW(key, L"Password");
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A loopback port nothing listens on: bound once, then let go.
int ClosedPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    closesocket(probe);
    return ntohs(address.sin_port);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// "text (n/m)" for the most frequent text, with the others after it.
std::string Tally(const std::map<std::wstring, int>& seen, int total) {
    std::vector<std::pair<int, std::wstring>> order;
    for (const auto& [text, count] : seen) order.emplace_back(count, text);
    std::sort(order.rbegin(), order.rend());
    std::string out;
    for (const auto& [count, text] : order) {
        if (!out.empty()) out += "; ";
        out += "\"" + Utf8(text) + "\" " + std::to_string(count) + "/" + std::to_string(total);
    }
    return out;
}

long Difference(DWORD later, DWORD earlier) { return static_cast<long>(later) - static_cast<long>(earlier); }

// The process's figures without the stand-in player's record of calls and events, which grows by
// a few kilobytes every track and is the harness's memory, not the plug-in's.
ProcessFigures Measure(Session& session) {
    session.Engine().Log().Clear();
    return MeasureProcess();
}

double HeapKiB(const ProcessFigures& figures) { return static_cast<double>(figures.heapBusyBytes) / 1024.0; }

// Growth from before to after; with a figure half-way, for each half (a leak grows in both halves,
// what is made once only in the first).
void ReportGrowth(const ProcessFigures& before, const ProcessFigures& middle, const ProcessFigures& after) {
    char text[96];
    std::snprintf(text, sizeof text, "%+ld %+ld", Difference(middle.handles, before.handles),
                  Difference(after.handles, middle.handles));
    Report("handles_growth_halves", text);
    Report("handle_kinds_first_half", HandleTypeChanges(before, middle));
    Report("handle_kinds_second_half", HandleTypeChanges(middle, after));
    std::snprintf(text, sizeof text, "%+.2f %+.2f", middle.privateMiB - before.privateMiB,
                  after.privateMiB - middle.privateMiB);
    Report("private_growth_halves_mib", text);
    std::snprintf(text, sizeof text, "%+.0f %+.0f", HeapKiB(middle) - HeapKiB(before),
                  HeapKiB(after) - HeapKiB(middle));
    Report("heap_growth_halves_kib", text);
    std::snprintf(text, sizeof text, "%+ld %+ld", Difference(middle.threads, before.threads),
                  Difference(after.threads, middle.threads));
    Report("threads_growth_halves", text);
    std::snprintf(text, sizeof text, "%+ld %+ld", Difference(after.gdiObjects, before.gdiObjects),
                  Difference(after.userObjects, before.userObjects));
    Report("gdi_user_growth", text);
    Report("handles_end", static_cast<double>(after.handles), 0);
    Report("private_end_mib", after.privateMiB, 1);
}

Track Song(const wchar_t* artist, const wchar_t* title, double seconds = 240) {
    return Track::Audio(artist, title, L"", seconds);
}

std::string NumberedLrc(const std::string& artist, const std::string& title, int lines, bool timed, double spacing) {
    std::string lrc = "[ar:" + artist + "]\n[ti:" + title + "]\n";
    for (int i = 0; i < lines; ++i) {
        if (timed) {
            const long long centiseconds = static_cast<long long>(i * spacing * 100.0);
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "[%02lld:%02lld.%02lld]", centiseconds / 6000, centiseconds / 100 % 60,
                          centiseconds % 100);
            lrc += stamp;
        }
        lrc += title + " line " + std::to_string(i + 1) + "\n";
    }
    return lrc;
}

// ---------------------------------------------------------------------------------------------
// The fault matrix.

struct FaultKind {
    const char* name;
    const char* mode;  // the stand-in's behaviour on the lookup paths; null: none
    int ms = 0;
    int code = 0;
    long bytes = 0;
    // Rounds that each wait seconds for the service start while earlier ones still wait: a new
    // track every 25 ms, as a user skipping through a playlist would.
    bool overlapped = false;
};

const FaultKind kFaults[] = {
    {"healthy", nullptr},  // for comparison: the service as it should be
    {"down", nullptr},
    {"refusing", "close"},
    {"never-answering", "delay", 20000, 0, 0, true},
    {"slow", "slow", 1, 0, 1, true},
    {"500", "status", 0, 500},
    {"404", "status", 0, 404},
    {"truncated", "truncate"},
    {"malformed", "malformed"},
    {"doctype-bomb", "bomb"},
    {"50mb", "large", 0, 0, 50L * 1024 * 1024},
    {"nul", "nul"},
    {"invalid-utf8", "bad-utf8"},
    {"10000-lines", nullptr},
};

class FaultRun {
public:
    FaultRun(Context& context, const FaultKind& kind) : context_(context), kind_(kind) {}

    int Run(int rounds) {
        svtest::StandinClient& service = context_.service;
        service.ResetBehaviours();
        service.ClearRequests();
        const std::string kindName = kind_.name;
        std::wstring host = Wide(service.HostPort());
        if (kindName == "down") host = L"127.0.0.1:" + std::to_wstring(ClosedPort());
        PointPluginAt(host);
        if (kindName == "10000-lines") {
            service.AddSongLrc(NumberedLrc("Reliability", "Ten Thousand Lines", 10000, true, 0.3));
            tracks_ = {Song(L"Reliability", L"Ten Thousand Lines", 3000), Song(L"Blue Harbour", L"Night Train")};
        } else {
            tracks_ = {Song(L"Blue Harbour", L"Night Train"), Song(L"Blue Harbour", L"The Long Road")};
        }
        if (kind_.mode) {
            for (const char* path : {kFetchPath, kVersionPath}) {
                service.SetBehaviour(path, kind_.mode, kind_.ms, kind_.code, kind_.bytes);
            }
        }
        if (!session_.Create()) return 1;
        session_.Engine().SetPlaylist(tracks_);

        // Warm-up rounds, so that what the first lookups make once (the thread pool, WinINet's
        // own state, MSXML) is in the starting figures.
        if (FAILED(session_.LoadPlugin())) return 1;
        loading_ = PluginText(IDS_STATUS_LOADING);
        {
            StallMeter warmUp;
            // One for a service that takes seconds a round: it makes the same once as five.
            for (int i = 0, count = kind_.overlapped ? 1 : 5; i < count; ++i) TimedRound(false);
        }
        session_.UnloadPlugin();
        if (!session_.WaitUntilModuleQuiet(kQuietDeadlineMs)) Report("quiet_before", "no");
        const ProcessFigures before = Measure(session_);

        const int firstHalf = rounds / 2;
        const ProcessFigures middle = RunHalf(firstHalf);
        const ProcessFigures after = RunHalf(rounds - firstHalf);
        ReportGrowth(before, middle, after);

        Report("stall_max_ms", longestStallMs_, 1);
        Report("quiet_after_ms", quietMs_, 0);
        Report("not_quiet", static_cast<double>(notQuiet_), 0);
        Report("rounds", static_cast<double>(opened_), 0);
        Report("stuck", static_cast<double>(stuck_), 0);
        Report("status", Tally(statuses_, static_cast<int>(times_.size())));
        Report("time_median_ms", Median(times_), 1);
        Report("time_max_ms", times_.empty() ? 0 : *std::max_element(times_.begin(), times_.end()), 1);
        Report("bright_line", Utf8(brightLine_.substr(0, 60)));
        const auto record = service.Requests(kFetchPath);
        Report("lookups_served", static_cast<double>(record.size()), 0);
        service.ResetBehaviours();
        return 0;
    }

private:
    // Rounds with the plug-in loaded, then the figures once it has gone and nothing of it runs.
    ProcessFigures RunHalf(int rounds) {
        if (FAILED(session_.LoadPlugin())) throw std::runtime_error("the plug-in did not load");
        RunRounds(rounds);
        session_.UnloadPlugin();
        const double quietStart = Now();
        const bool quiet = session_.WaitUntilModuleQuiet(kQuietDeadlineMs);
        quietMs_ = std::max(quietMs_, 1000 * (Now() - quietStart));
        if (!quiet) ++notQuiet_;
        return Measure(session_);
    }

    // The counted rounds, with the user-interface thread's stalls measured meanwhile (the meter's
    // thread is gone again before the figures after).
    void RunRounds(int rounds) {
        StallMeter stalls;
        if (kind_.overlapped) {
            // The first round alone shows how long a user waits; the rest pile up behind it.
            TimedRound(true);
            for (int round = 1; round < rounds; ++round) {
                const double next = Now() + 0.025;
                session_.Open(round % 2);
                ++opened_;
                Pump([&] { return Now() >= next; }, 1000);
            }
            const double start = Now();
            const bool ended = Pump([&] { return session_.StatusText() != loading_; }, kRoundDeadlineMs);
            if (!ended) ++stuck_;
            Report("last_round_ms", 1000 * (Now() - start), 0);
            Report("last_status", Utf8(session_.StatusText()));
        } else {
            for (int round = 0; round < rounds; ++round) TimedRound(true);
        }
        longestStallMs_ = std::max(longestStallMs_, stalls.LongestMs());
    }

    // One track change whose outcome is waited for: the time until the status line leaves the
    // waiting text, and what it says then.
    void TimedRound(bool counted) {
        DeleteCacheFiles();
        const double start = Now();
        session_.Open(next_++ % 2);
        const bool ended = Pump([&] { return session_.StatusText() != loading_; }, kRoundDeadlineMs);
        if (!counted) return;
        ++opened_;
        if (!ended) {
            ++stuck_;
            return;
        }
        times_.push_back(1000 * (Now() - start));
        std::wstring status = session_.StatusText();
        if (status.find_first_not_of(L' ') == std::wstring::npos) {
            // No message: lyrics are shown when a line lights up half a minute in.
            session_.Seek(30);
            brightLine_ = session_.BrightLine();
            status = brightLine_.empty() ? L"(no message, no lyrics)" : L"(no message, lyrics shown)";
        }
        ++statuses_[status];
    }

    Context& context_;
    const FaultKind& kind_;
    Session session_;
    std::vector<Track> tracks_;
    std::wstring loading_;
    int next_ = 0;
    int opened_ = 0;
    int stuck_ = 0;
    std::vector<double> times_;
    std::map<std::wstring, int> statuses_;
    std::wstring brightLine_;
    double longestStallMs_ = 0;
    double quietMs_ = 0;
    int notQuiet_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Shared by the unload and tear-down runs: a short untimed song re-timed by three clicks, so that
// the end of the track uploads it.

constexpr wchar_t kUntimedArtist[] = L"Reliability";
constexpr wchar_t kUntimedTitle[] = L"Three Untimed Lines";

void AddUntimedSong(svtest::StandinClient& service) {
    service.AddSongLrc(NumberedLrc("Reliability", "Three Untimed Lines", 3, false, 0));
}

// Opens the untimed song (track 0) and clicks along; true when the clicks were taken. The song is
// stored untimed again first: the last round's upload timed it.
bool Retime(Session& session, svtest::StandinClient& service) {
    AddUntimedSong(service);
    DeleteCacheFiles();
    session.SetClock(0);
    session.Open(0);
    const std::wstring clickToAdvance = PluginText(IDS_STATUS_CLICK_TO_ADVANCE);
    if (!Pump([&] { return session.StatusText() == clickToAdvance; }, 10000)) return false;
    for (double at : {0.5, 1.7, 2.9}) {
        session.SetClock(at);
        session.ClickLyrics();
    }
    return true;
}

}  // namespace

int RunFault(Context& context, const std::string& kind, int rounds) {
    for (const FaultKind& fault : kFaults) {
        if (kind == fault.name) {
            Report("fault", kind);
            FaultRun run(context, fault);
            return run.Run(rounds);
        }
    }
    std::fprintf(stderr, "sonavire-reliability: unknown fault %s; known:", kind.c_str());
    for (const FaultKind& fault : kFaults) std::fprintf(stderr, " %s", fault.name);
    std::fprintf(stderr, "\n");
    return 2;
}

// ---------------------------------------------------------------------------------------------
// Unloading with requests in flight.

int RunUnloadRounds(Context& context, int rounds) {
    svtest::StandinClient& service = context.service;
    service.ResetBehaviours();
    PointPluginAt(Wide(service.HostPort()));
    Session session;
    if (!session.Create()) return 1;
    session.Engine().SetPlaylist({Song(kUntimedArtist, kUntimedTitle, 30), Song(L"Blue Harbour", L"Night Train")});

    int unloaded = 0, retimed = 0, fetchInFlight = 0, saveInFlight = 0, languagesInFlight = 0;
    double longestUnloadMs = 0;
    ProcessFigures before, middle;
    for (int round = 0; round < rounds; ++round) {
        service.ResetBehaviours();
        service.ClearRequests();
        // Every tenth round the language list answers after the plug-in has stopped waiting for it
        // (3 s), so that it is still in flight when the plug-in goes.
        const bool lateLanguages = round % 10 == 5;
        if (lateLanguages) service.SetBehaviour(kLanguagesPath, "delay", 3300);
        if (FAILED(session.LoadPlugin())) return 1;
        if (Retime(session, service)) ++retimed;
        // The answers come back at different moments of the unloading from round to round.
        const int delayMs = 50 + (round * 37) % 400;
        service.SetBehaviour(kFetchPath, round % 3 == 0 ? "slow" : "delay", round % 3 == 0 ? 5 : delayMs, 0,
                             round % 3 == 0 ? 64 : 0);
        service.SetBehaviour(kSavePath, "delay", delayMs);
        DeleteCacheFiles();
        const double ended = Now();
        session.EndTrack();  // uploads the re-timed lines and opens the next track
        if (round % 4 != 3) {
            // Most rounds unload once both requests have reached the service; the others at once.
            service.WaitForRequests(kSavePath, 1, 5000);
            service.WaitForRequests(kFetchPath, 1, 5000);
        }
        const double waited = 1000 * (Now() - ended);
        if (!service.Requests(kSavePath).empty() && waited < delayMs) ++saveInFlight;
        if (!service.Requests(kFetchPath).empty() && (round % 3 == 0 || waited < delayMs)) ++fetchInFlight;
        if (lateLanguages) ++languagesInFlight;
        session.UnloadPlugin();
        const double start = Now();
        if (session.WaitUntilModuleUnloaded(kQuietDeadlineMs)) ++unloaded;
        longestUnloadMs = std::max(longestUnloadMs, 1000 * (Now() - start));
        if (round == 0) before = Measure(session);
        if (round == rounds / 2) middle = Measure(session);
        Report("round", static_cast<double>(round + 1), 0);
    }
    service.ResetBehaviours();
    Report("rounds", static_cast<double>(rounds), 0);
    Report("unloaded", static_cast<double>(unloaded), 0);
    Report("retimed", static_cast<double>(retimed), 0);
    Report("fetch_in_flight", static_cast<double>(fetchInFlight), 0);
    Report("save_in_flight", static_cast<double>(saveInFlight), 0);
    Report("languages_in_flight", static_cast<double>(languagesInFlight), 0);
    Report("longest_unload_ms", longestUnloadMs, 0);
    ReportGrowth(before, middle, Measure(session));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The track-change storm.

namespace {

constexpr int kStormSongs = 10;

// The number in "Storm NN line 1", or -1.
int StormSongOf(const std::wstring& text) {
    int number = -1;
    if (swscanf(text.c_str(), L"Storm %d line", &number) != 1) return -1;
    return number;
}

// Every new bright line of the lyrics pane, read between the messages the storm's loop handles
// and before each track change, sorted by the track it belongs to.
class BrightLineWatch {
public:
    explicit BrightLineWatch(Session& session) : session_(session) {}
    void Sample() {
        const std::wstring text = session_.BrightLine();
        if (text == last_) return;
        last_ = text;
        const int song = StormSongOf(text);
        if (song < 0)
            ++otherTexts;
        else if (song == session_.Engine().CurrentIndex())
            ++shownCurrent;
        else
            ++shownStale;
    }
    long long shownCurrent = 0;
    long long shownStale = 0;
    long long otherTexts = 0;

private:
    Session& session_;
    std::wstring last_;
};

}  // namespace

int RunStorm(Context& context, int seconds, int rate) {
    svtest::StandinClient& service = context.service;
    service.ResetBehaviours();
    service.ClearRequests();
    PointPluginAt(Wide(service.HostPort()));
    std::vector<Track> tracks;
    for (int i = 0; i < kStormSongs; ++i) {
        char title[32];
        std::snprintf(title, sizeof title, "Storm %d", i);
        service.AddSongLrc(NumberedLrc("Reliability", title, 8, true, 4.0));
        tracks.push_back(Song(L"Reliability", Wide(title).c_str()));
    }
    DeleteCacheFiles();
    Session session;
    if (!session.Create()) return 1;
    session.Engine().SetPlaylist(tracks);
    // The figures before: the plug-in loaded, used once and released.
    if (FAILED(session.LoadPlugin())) return 1;
    session.Open(0);
    Pump([&] { return StormSongOf(session.BrightLine()) == 0; }, kRoundDeadlineMs);
    session.UnloadPlugin();
    session.WaitUntilModuleQuiet(kQuietDeadlineMs);
    const ProcessFigures before = Measure(session);
    BrightLineWatch watch(session);

    if (FAILED(session.LoadPlugin())) return 1;
    StallMeter stalls;
    const double interval = 1.0 / rate;
    const double start = Now();
    long long changes = 0;
    int last = 0;
    for (bool delayed = false;;) {
        const double due = start + changes * interval;
        if (due >= start + seconds) break;
        // The second half: the service answers after three track changes, so every answer is late.
        if (!delayed && due >= start + seconds / 2.0) {
            for (const char* path : {kFetchPath, kVersionPath}) service.SetBehaviour(path, "delay", 3000 / rate);
            delayed = true;
        }
        Pump(
            [&] {
                watch.Sample();
                return Now() >= due;
            },
            1000);
        watch.Sample();
        last = static_cast<int>((changes * 7 + 3) % kStormSongs);
        if (last == session.Engine().CurrentIndex()) last = (last + 1) % kStormSongs;
        session.Open(last);
        ++changes;
    }
    const double stormEnded = Now();
    const bool newestShown = Pump(
        [&] {
            watch.Sample();
            return StormSongOf(session.BrightLine()) == last;
        },
        kRoundDeadlineMs);
    Report("changes", static_cast<double>(changes), 0);
    Report("rate_per_s", changes / (stormEnded - start), 1);
    Report("newest_shown", newestShown ? "yes" : "no");
    Report("newest_shown_after_ms", 1000 * (Now() - stormEnded), 0);
    Report("shown_current", static_cast<double>(watch.shownCurrent), 0);
    Report("shown_stale", static_cast<double>(watch.shownStale), 0);
    Report("other_texts", static_cast<double>(watch.otherTexts), 0);
    Report("stall_max_ms", stalls.LongestMs(), 1);
    Report("lookups_served",
           static_cast<double>(service.Requests(kFetchPath).size() + service.Requests(kVersionPath).size()), 0);
    session.UnloadPlugin();
    service.ResetBehaviours();
    const bool quiet = session.WaitUntilModuleQuiet(kQuietDeadlineMs);
    Report("quiet", quiet ? "yes" : "no");
    const ProcessFigures after = Measure(session);
    char text[64];
    std::snprintf(text, sizeof text, "%+ld", Difference(after.handles, before.handles));
    Report("handles_growth", text);
    Report("handle_kinds", HandleTypeChanges(before, after));
    std::snprintf(text, sizeof text, "%+.2f", after.privateMiB - before.privateMiB);
    Report("private_growth_mib", text);
    std::snprintf(text, sizeof text, "%+.0f", HeapKiB(after) - HeapKiB(before));
    Report("heap_growth_kib", text);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The main window destroyed in the middle of things.

namespace {

// Runs from a thread timer, so also inside the loops of the plug-in's dialogs, message boxes and
// a page's alert: does what the round needs, then destroys the main window (or the player lets go
// of the plug-in) at the chosen moment, then closes what the plug-in left open, as a user would.
struct TeardownAgent {
    Session* session = nullptr;
    std::function<bool()> step;  // true: destroy now
    bool unloadInstead = false;
    double deadline = 0;  // the destroy comes by then whatever the step says (counted as late)
    bool destroyed = false;
    bool late = false;
    int leftOpen = 0;  // dialogs still open after the destroy, closed here
} g_agent;

struct DialogSearch {
    int controlId;  // 0: any dialog; -1: one without the sign-in fields (a message box)
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<DialogSearch*>(data);
    wchar_t name[16] = {};
    GetClassNameW(hwnd, name, 16);
    if (lstrcmpW(name, L"#32770") != 0 || !IsWindowVisible(hwnd)) return TRUE;
    if (search->controlId > 0 && !GetDlgItem(hwnd, search->controlId)) return TRUE;
    if (search->controlId < 0 && GetDlgItem(hwnd, IDC_SIGN_IN_USER)) return TRUE;
    search->found = hwnd;
    return FALSE;
}

// A dialog (or message box) of this thread, as DialogSearch says.
HWND FindThreadDialog(int controlId) {
    DialogSearch search{controlId, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), &MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void CALLBACK TeardownAgentTick(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_agent.session) return;
    if (!g_agent.destroyed) {
        if (!g_agent.step()) {
            if (Now() < g_agent.deadline) return;
            g_agent.late = true;
        }
        g_agent.destroyed = true;
        if (g_agent.unloadInstead) {
            g_agent.session->UnloadPlugin();
        } else if (const HWND main = g_agent.session->MainWindow()) {
            DestroyWindow(main);
        }
        return;
    }
    if (const HWND left = FindThreadDialog(0)) {
        ++g_agent.leftOpen;
        const int cancel = GetDlgItem(left, IDC_SIGN_IN_CANCEL) ? IDC_SIGN_IN_CANCEL : IDOK;
        PostMessageW(left, WM_COMMAND, MAKEWPARAM(cancel, BN_CLICKED), 0);
    }
}

// The sign-in dialog filled in and sent; variant 0 destroys while the dialog is up, 1 while
// "signed in" shows, 2 after a refused password.
std::function<bool()> SignInSteps(int variant) {
    auto typed = std::make_shared<bool>(false);
    return [variant, typed] {
        const HWND dialog = FindThreadDialog(IDC_SIGN_IN_USER);
        if (variant == 0) return dialog != nullptr;
        if (dialog && !*typed) {
            *typed = true;
            SetDlgItemTextW(dialog, IDC_SIGN_IN_USER, L"kestrel");
            SetDlgItemTextW(dialog, IDC_SIGN_IN_PASSWORD, variant == 2 ? L"wrong" : L"secret");
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SIGN_IN_BUTTON, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SIGN_IN_BUTTON)));
            return false;
        }
        if (variant == 1) return *typed && FindThreadDialog(-1) != nullptr;
        wchar_t message[256] = {};
        if (dialog) GetDlgItemTextW(dialog, IDC_SIGN_IN_MESSAGE, message, 256);
        // The refusal, once the check (which runs on a worker) has answered.
        return message[0] != L'\0' && IsWindowEnabled(GetDlgItem(dialog, IDC_SIGN_IN_BUTTON));
    };
}

// Runs one agent round: start() begins what the agent acts in; true when the destroy came.
bool RunAgentRound(Session& session, std::function<bool()> step, bool unloadInstead, const std::function<void()>& start,
                   int& leftOpen) {
    g_agent = TeardownAgent{&session, std::move(step), unloadInstead, Now() + 20};
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, &TeardownAgentTick);
    start();
    const bool destroyed = Pump([] { return g_agent.destroyed; }, kRoundDeadlineMs);
    // Out of every loop the plug-in ran: the agent closes what is still open.
    Pump([] { return !FindThreadDialog(0); }, kRoundDeadlineMs);
    KillTimer(nullptr, timer);
    leftOpen += g_agent.leftOpen;
    const bool inTime = destroyed && !g_agent.late;
    g_agent = {};
    return inTime;
}

}  // namespace

int RunTeardown(Context& context, const std::string& what, int rounds) {
    svtest::StandinClient& service = context.service;
    service.ResetBehaviours();
    PointPluginAt(Wide(service.HostPort()));
    service.AddUser("kestrel", "secret");
    // The panes show the community site's pages in the stand-in browser, whose scripts run.
    sv::standin::ScopedStandinBrowser browser;
    Session session;
    if (!session.Create()) return 1;
    session.Engine().SetPlaylist({Song(kUntimedArtist, kUntimedTitle, 30), Song(L"Blue Harbour", L"Night Train")});
    Report("teardown", what);

    int completed = 0, unloaded = 0, inFlight = 0, leftOpen = 0;
    for (int round = 0; round < rounds; ++round) {
        service.ResetBehaviours();
        service.ClearRequests();
        PointPluginAt(Wide(service.HostPort()));
        if (FAILED(session.LoadPlugin())) return 1;
        const int delayMs = 100 + (round * 53) % 500;
        bool ran = false;
        if (what == "fetch") {
            service.SetBehaviour(kFetchPath, round % 2 ? "slow" : "delay", round % 2 ? 3 : delayMs, 0,
                                 round % 2 ? 32 : 0);
            DeleteCacheFiles();
            session.Open(1);
            if (round % 3 != 2) service.WaitForRequests(kFetchPath, 1, 5000);
            inFlight += service.Requests(kFetchPath).empty() ? 0 : 1;
            DestroyWindow(session.MainWindow());
            ran = true;
        } else if (what == "save") {
            if (Retime(session, service)) {
                service.SetBehaviour(kSavePath, round % 2 ? "slow" : "delay", round % 2 ? 3 : delayMs, 0,
                                     round % 2 ? 8 : 0);
                session.EndTrack();
                if (round % 3 != 2) service.WaitForRequests(kSavePath, 1, 5000);
                inFlight += service.Requests(kSavePath).empty() ? 0 : 1;
                DestroyWindow(session.MainWindow());
                ran = true;
            }
        } else if (what == "sign-in") {
            service.SetBehaviour(kSignInPath, "delay", 50);
            ran = RunAgentRound(
                session, SignInSteps(round % 3), round % 2 == 1,
                [&] { PostMessageW(session.MainWindow(), WM_COMMAND, MAKEWPARAM(CMD_SIGN_IN, 0), 0); }, leftOpen);
            inFlight += service.Requests(kSignInPath).empty() ? 0 : 1;
        } else if (what == "page") {
            // The page in the browse pane answers the player's new track with an alert, and the
            // destroy comes while it shows: in the middle of the plug-in's call into the page.
            const auto browsers = sv::standin::LiveStandinBrowsers();
            sv::standin::StandinBrowser* page = browsers.empty() ? nullptr : browsers.front();
            if (page && Pump([&] { return page->CompletedLoads() > 0 && !page->Loading(); }, 10000) &&
                page->RunScript(L"OnMediaPlayerOpened = function (user, artist, title) { alert('Now: ' + title); }")) {
                DeleteCacheFiles();
                ran = RunAgentRound(
                    session, [] { return FindThreadDialog(0) != nullptr; }, round % 2 == 1, [&] { session.Open(1); },
                    leftOpen);
                inFlight += ran ? 1 : 0;
            }
        } else {
            std::fprintf(stderr, "sonavire-reliability: unknown tear-down %s\n", what.c_str());
            return 2;
        }
        session.UnloadPlugin();
        if (session.WaitUntilModuleUnloaded(kQuietDeadlineMs)) ++unloaded;
        if (ran) ++completed;
        Report("round", static_cast<double>(round + 1), 0);
    }
    service.ResetBehaviours();
    Report("rounds", static_cast<double>(rounds), 0);
    Report("destroyed_mid_way", static_cast<double>(completed), 0);
    Report("requests_reached_service", static_cast<double>(inFlight), 0);
    Report("dialogs_left_open", static_cast<double>(leftOpen), 0);
    Report("unloaded", static_cast<double>(unloaded), 0);
    return 0;
}

}  // namespace reliability
