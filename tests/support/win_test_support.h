// What every Windows test area needs: message pumping with deadlines, the test executable's own
// folder, the stand-in service's address, and windows looked at from outside.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "plugin_key_scope.h"

namespace svtest {

// Dispatches this thread's messages until done() holds (asked after every message) or the
// deadline passes; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
// Dispatches this thread's messages until one for which seen(message) holds has been dispatched,
// or done() holds when the queue is empty, or the deadline passes; false on timeout.
bool PumpUntilDispatched(const std::function<bool(const MSG&)>& seen, const std::function<bool()>& done,
                         DWORD timeoutMs);
// Dispatches every message waiting now.
void PumpPending();

// The folder of the running test executable, with a trailing backslash.
std::wstring ExecutableFolder();

// Deletes the cache files in the user's cache folder (LocalAppData\Sonavire\Cache\*.xml).
void DeleteCacheFiles();

// "127.0.0.1:PORT" of the stand-in service (SONAVIRE_STANDIN).
std::wstring StandinHost();

// The plug-in's key, made fresh, with "Lyrics Host" and "Community Host" naming the stand-in.
class StandinKeyScope : public PluginKeyScope {
public:
    StandinKeyScope();
};

// The children of a window from the top of the z-order down.
std::vector<HWND> ChildrenInZOrder(HWND parent);
std::wstring ClassOf(HWND hwnd);
std::wstring TextOf(HWND hwnd);
// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND hwnd);

}  // namespace svtest
