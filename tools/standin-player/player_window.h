// The stand-in player's windows and its handling of a UI plug-in: a top-level window of class
// "WMPlayerApp" titled "Windows Media Player", a settings area below a now-playing strip, and in it
// the host window that a settings-area plug-in gets in Create.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "base/com_ptr.h"
#include "player_engine.h"
#include "base/wmp_plugin_ui.h"
#include "window/window_base.h"

namespace sv::standin {

// Calls a UI plug-in the way the player does: SetCore, then Create with the host window; at the
// end Destroy, then SetCore with no core, then the last release. Every call is recorded.
class PluginHost {
public:
    explicit PluginHost(PlayerEngine& engine) : engine_(engine) {}
    ~PluginHost() { Unload(); }
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Creates the plug-in through COM and starts it in the host window.
    HRESULT Load(REFCLSID classId, HWND hostWindow);
    // Starts a plug-in object made by the caller (a reference of its own is kept).
    HRESULT Start(IWMPPluginUI* plugin, HWND hostWindow);
    // Destroy, SetCore(nullptr), release; nothing when no plug-in is loaded.
    void Unload();

    bool IsLoaded() const { return static_cast<bool>(plugin_); }
    IWMPPluginUI* Plugin() const { return plugin_.get(); }
    HWND PluginWindow() const { return pluginWindow_; }

private:
    void Record(const std::string& text) { engine_.Log().Add(LogKind::Host, text); }

    PlayerEngine& engine_;
    ComPtr<IWMPPluginUI> plugin_;
    HWND pluginWindow_ = nullptr;
    bool created_ = false;
};

// A child window that only reports its size; the settings area and the host window.
class AreaWindow : public WindowBase {
public:
    std::function<void(int width, int height)> onSize;
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;
};

class PlayerWindow : public WindowBase {
public:
    static constexpr int kStripHeight = 28;

    PlayerWindow(HINSTANCE instance, PlayerEngine& engine);
    ~PlayerWindow() override;

    // Makes the windows; a null rect gives a 900 x 640 window at the default place.
    bool Create(const RECT* rect = nullptr, bool show = true);
    // Posts WM_QUIT when the window is destroyed (for the player's own message loop).
    void SetQuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }

    HWND SettingsArea() const { return settingsArea_.Hwnd(); }
    HWND HostWindow() const { return hostWindow_ ? hostWindow_->Hwnd() : nullptr; }
    PluginHost& Plugin() { return pluginHost_; }

    // The plug-in class that LoadPlugin and a rescan create.
    void SetPluginClass(const CLSID& classId) {
        pluginClass_ = classId;
        hasPluginClass_ = true;
    }
    // Makes a fresh host window and loads the plug-in class into it.
    HRESULT LoadPlugin();
    // The same with a plug-in object the caller made.
    HRESULT LoadPluginObject(IWMPPluginUI* plugin);
    // Ends the plug-in and removes its host window.
    void UnloadPlugin();
    // What the player does on "WMPlayer_PluginAddRemove": release and re-create the plug-in.
    void Rescan();
    int RescanCount() const { return rescanCount_; }
    HRESULT LastLoadResult() const { return lastLoadResult_; }

    // The DPI the window is shown at: the system's when it was made, then each WM_DPICHANGED's.
    int Dpi() const { return dpi_; }
    // What the system does when a per-monitor aware window moves to a screen of another DPI: it
    // sends the window WM_DPICHANGED with the new DPI and a rectangle of the size scaled to it,
    // which the window takes.
    void MoveToScreenOfDpi(int dpi);

    // A picture of the window's client area, as a 24-bit BMP file.
    bool SavePicture(const std::wstring& path);

    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    bool MakeHostWindow();
    void LayOut(int width, int height);
    void PaintStrip(HDC dc, const RECT& client);
    void RequestEventDelivery();

    HINSTANCE instance_;
    PlayerEngine& engine_;
    PluginHost pluginHost_;
    AreaWindow settingsArea_;
    std::unique_ptr<AreaWindow> hostWindow_;
    CLSID pluginClass_{};
    bool hasPluginClass_ = false;
    HRESULT lastLoadResult_ = S_FALSE;
    int rescanCount_ = 0;
    UINT pluginAddRemoveMessage_ = 0;
    bool deliveryPosted_ = false;
    bool quitOnDestroy_ = false;
    int dpi_ = 96;
};

// Writes a picture of a window's client area (children included) as a 24-bit BMP file.
bool SaveWindowPicture(HWND hwnd, const std::wstring& path);

}  // namespace sv::standin
