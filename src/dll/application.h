// The module's application object: starts the module-wide parts on first use and ends them once
// the module may be unloaded, never inside DllMain, where registry, GDI and COM calls do not belong.
#pragma once
#include <windows.h>

#include <memory>

#include "web/script_bridge.h"

namespace sv {

// The module's application object: starts and ends the module-wide parts (InitInstance and
// ExitInstance keep the names of an application's start and end; ExitInstance's 0 is an exit code
// nobody reads, as a DLL has none to give).
class CSonavireApp {
public:
    CSonavireApp() = default;
    CSonavireApp(const CSonavireApp&) = delete;
    CSonavireApp& operator=(const CSonavireApp&) = delete;
    ~CSonavireApp() = default;

    // Measures the bitmaps into the settings record and makes the script bridge, through which
    // each pane's own window.external reaches the live plug-in object. True when the module may
    // serve.
    bool InitInstance();
    // Deletes the bridge, whatever its count; returns 0.
    int ExitInstance();

    CWebIDispatch* ScriptBridge() const { return bridge_.get(); }

private:
    std::unique_ptr<CWebIDispatch> bridge_;
};

// The module's application object.
CSonavireApp& Application();

// The class factory's creator of the plug-in object: a new CSonavire whose pages reach the
// application's script bridge.
HRESULT CreatePluginObject(REFIID riid, void** ppv);

// Runs InitInstance on the first request for a class object after the module was loaded or last
// ended; later calls do nothing. Thread-safe.
void StartApplication();
bool ApplicationStarted();

// A page still holds a reference to the script bridge (its count is above zero).
bool PagesHoldScriptBridge();

// DllCanUnloadNow said yes, so the module may be unloaded any moment: ExitInstance and the
// settings record's teardown (its fonts), when the application had started. Never under the
// loader lock.
void EndApplication();

}  // namespace sv
