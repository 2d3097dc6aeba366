// The module's application object: starts the module-wide parts on first use (never inside
// DllMain, where registry, GDI and COM calls do not belong) and ends them at unload.
#pragma once
#include <windows.h>

namespace sv {

class CSonavireApp {
public:
    CSonavireApp() = default;
    CSonavireApp(const CSonavireApp&) = delete;
    CSonavireApp& operator=(const CSonavireApp&) = delete;
    ~CSonavireApp() = default;

    // Measures the bitmaps into the settings record. Later this is also where the script bridge
    // is made and the browser controls' site manager installed. True when the module may serve.
    bool InitInstance();
    // Undoes InitInstance; returns 0.
    int ExitInstance();
};

// Runs InitInstance once, on the first request for a class object; later calls do nothing.
// Thread-safe.
void StartApplication();
bool ApplicationStarted();

// Module unload (FreeLibrary after DllCanUnloadNow said yes): ExitInstance and the settings
// record's teardown, when the application had started.
void EndApplication();

}  // namespace sv
