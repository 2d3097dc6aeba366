#include "dll/application.h"

#include "base/hresult.h"
#include "base/module_instance.h"
#include "base/win_handles.h"
#include "plugin/sonavire.h"
#include "plugin/sonavire_factory.h"
#include "settings/settings.h"
#include "resources/resource_ids.h"

namespace sv {
namespace {

CSonavireApp g_application;
SRWLOCK g_startLock = SRWLOCK_INIT;
bool g_started = false;  // guarded by g_startLock

// Width and height of a bitmap resource, or zeros when it cannot be loaded.
SIZE BitmapSize(HINSTANCE module, int id) {
    SIZE size{0, 0};
    UniqueBitmap bitmap(
        static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    BITMAP info{};
    if (bitmap && GetObjectW(bitmap.get(), sizeof(info), &info) == sizeof(info)) {
        size.cx = info.bmWidth;
        size.cy = info.bmHeight;
    }
    return size;
}

// What the bridge acts on when a page calls: the live plug-in object, or none.
BridgeTarget* LivePluginTarget() {
    CSonavire* plugin = CSonavire::Live();
    return plugin ? plugin->PageEventTarget() : nullptr;
}

}  // namespace

bool CSonavireApp::InitInstance() {
    const HINSTANCE module = ModuleInstance();
    // Bitmap 103 holds four button faces side by side; bitmap 100 is the logo.
    const SIZE buttons = BitmapSize(module, IDB_BUTTON_FACES);
    const SIZE logo = BitmapSize(module, IDB_LOGO);
    SetBitmapMetrics(buttons.cx / 4, buttons.cy, logo.cx, logo.cy);
    // Every page of every pane acts through this one object. Start-up is a boundary: a bridge that
    // cannot be made means the module does not serve.
    return CallbackBoundary("script bridge", [&] { bridge_ = std::make_unique<CWebIDispatch>(&LivePluginTarget); });
}

int CSonavireApp::ExitInstance() {
    bridge_.reset();
    return 0;
}

CSonavireApp& Application() { return g_application; }

HRESULT CreatePluginObject(REFIID riid, void** ppv) {
    return CreateSonavireObject(riid, ppv, g_application.ScriptBridge());
}

void StartApplication() {
    ScopedSrwLock hold(g_startLock);
    if (!g_started) g_started = g_application.InitInstance();
}

bool ApplicationStarted() {
    ScopedSrwLock hold(g_startLock, ScopedSrwLock::kShared);
    return g_started;
}

bool PagesHoldScriptBridge() {
    ScopedSrwLock hold(g_startLock, ScopedSrwLock::kShared);
    const CWebIDispatch* bridge = g_application.ScriptBridge();
    return g_started && bridge && bridge->ReferenceCount() > 0;
}

void EndApplication() {
    ScopedSrwLock hold(g_startLock);
    if (!g_started) return;
    g_application.ExitInstance();
    DestroySettings();
    g_started = false;
}

}  // namespace sv
