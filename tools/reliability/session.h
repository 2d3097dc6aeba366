// What every reliability run shares: the stand-in player with Sonavire.dll loaded through COM (the
// class as registered in the prefix), the plug-in's windows read from outside as an accessibility
// tool reads them, the process's own figures, and a meter for the user-interface thread's stalls.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "player_engine.h"
#include "player_window.h"
#include "process_figures.h"
#include "win_test_support.h"

namespace reliability {

// Seconds on the performance counter.
double Now();

// Dispatches this thread's messages until done() holds (asked after every message and at least
// every millisecond) or the deadline passes; returns done().
bool Pump(const std::function<bool()>& done, DWORD timeoutMs);

using svtest::DeleteCacheFiles;
using svtest::HandleTypeChanges;
using svtest::MeasureProcess;
using svtest::ProcessFigures;

// One line of results on standard output: "figure<TAB>name<TAB>value".
void Report(const char* name, const std::string& value);
void Report(const char* name, double value, int decimals = 1);
std::string Utf8(const std::wstring& text);

// A text of the plug-in's string table, read from the loaded DLL.
std::wstring PluginText(UINT id);

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Create();
    sv::standin::PlayerEngine& Engine() { return engine_; }
    sv::standin::PlayerWindow& Player() { return *player_; }

    HRESULT LoadPlugin() { return player_->LoadPlugin(); }
    void UnloadPlugin() { player_->UnloadPlugin(); }
    // Waits until nothing in the DLL runs any more (its DllCanUnloadNow says yes) with the plug-in
    // released; true at once when the DLL is not loaded.
    bool WaitUntilModuleQuiet(DWORD timeoutMs);
    // CoFreeUnusedLibraries until the DLL has left the process.
    bool WaitUntilModuleUnloaded(DWORD timeoutMs);

    // The player's own actions, with their events delivered before returning.
    void Open(int index);
    void EndTrack();
    void Seek(double seconds);
    // The player's clock (seconds); it only moves when told to.
    void SetClock(double seconds) { clock_ = seconds; }
    double Clock() const { return clock_; }

    HWND MainWindow() const;
    HWND Find(const wchar_t* className) const;
    // The logo shares the lyrics pane's window class and is the smaller of the two.
    HWND LyricsPane() const;
    std::wstring StatusText() const;
    std::wstring BrightLine() const;
    // A click in the middle of the lyrics pane.
    void ClickLyrics();

private:
    double clock_ = 0;
    sv::standin::PlayerEngine engine_;
    std::unique_ptr<sv::standin::PlayerWindow> player_;
};

// Posts a message to the user-interface thread every 2 ms from a thread of its own and keeps the
// longest time one waited to be handled.
class StallMeter {
public:
    StallMeter();
    ~StallMeter();
    StallMeter(const StallMeter&) = delete;
    StallMeter& operator=(const StallMeter&) = delete;
    double LongestMs() const { return longestMs_; }
    long long Pings() const { return pings_; }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    double longestMs_ = 0;
    long long pings_ = 0;
};

}  // namespace reliability
