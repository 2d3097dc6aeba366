// CSonavire: the COM object the player creates as a settings-area UI plug-in. It keeps the player
// core, subscribes to the player's events, takes over the player's host window, makes the main
// plug-in window inside it and turns events into calls on that window. The video page's events
// arrive from the script bridge (BridgeTarget) and take the same path, marked as the page's.
//
// Apartment-threaded: every call comes on the player's user-interface thread.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <wmp.h>
#include <commctrl.h>

#include <cstdint>
#include <memory>

#include "base/com_ptr.h"
#include "base/win_handles.h"
#include "base/wmp_plugin_ui.h"
#include "main_window/player_access.h"
#include "main_window/plugin_window.h"
#include "web/bridge_target.h"

class CSonavire final : public IWMPEvents, public IWMPPluginUI, private sv::PlayerAccess, private sv::BridgeTarget {
public:
    // The id of the plug-in's procedure in the host window's subclass chain.
    static constexpr UINT_PTR kHostSubclassId = 1;
    // Oldest player major version the plug-in runs in.
    static constexpr long kLowestPlayerVersion = 11;

    // The class factory's creator: a new object, the live one from now on, asked for riid.
    // Its main windows are made with windowOptions (the module's script bridge; tests put their
    // own in).
    static HRESULT CreateInstance(REFIID riid, void** ppv, sv::MainWindowOptions windowOptions = {});

    // IUnknown (the IWMPEvents face is the object's identity).
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IWMPPluginUI
    STDMETHODIMP SetCore(IWMPCore* core) override;
    STDMETHODIMP Create(HWND hostWindow, HWND* window) override;
    STDMETHODIMP Destroy() override;
    STDMETHODIMP DisplayPropertyPage(HWND parent) override;
    STDMETHODIMP GetProperty(const WCHAR* name, VARIANT* value) override;
    STDMETHODIMP SetProperty(const WCHAR* name, const VARIANT* value) override;
    STDMETHODIMP TranslateAccelerator(LPMSG message) override;

    // IWMPEvents: open state, play state and position are followed; everything else is ignored.
    void STDMETHODCALLTYPE OpenStateChange(long newState) override;
    void STDMETHODCALLTYPE PlayStateChange(long newState) override;
    void STDMETHODCALLTYPE PositionChange(double oldPosition, double newPosition) override;
    void STDMETHODCALLTYPE AudioLanguageChange(long) override {}
    void STDMETHODCALLTYPE StatusChange() override {}
    void STDMETHODCALLTYPE ScriptCommand(BSTR, BSTR) override {}
    void STDMETHODCALLTYPE NewStream() override {}
    void STDMETHODCALLTYPE Disconnect(long) override {}
    void STDMETHODCALLTYPE Buffering(VARIANT_BOOL) override {}
    void STDMETHODCALLTYPE Error() override {}
    void STDMETHODCALLTYPE Warning(long, long, BSTR) override {}
    void STDMETHODCALLTYPE EndOfStream(long) override {}
    void STDMETHODCALLTYPE MarkerHit(long) override {}
    void STDMETHODCALLTYPE DurationUnitChange(long) override {}
    void STDMETHODCALLTYPE CdromMediaChange(long) override {}
    void STDMETHODCALLTYPE PlaylistChange(IDispatch*, WMPPlaylistChangeEventType) override {}
    void STDMETHODCALLTYPE CurrentPlaylistChange(WMPPlaylistChangeEventType) override {}
    void STDMETHODCALLTYPE CurrentPlaylistItemAvailable(BSTR) override {}
    void STDMETHODCALLTYPE MediaChange(IDispatch*) override {}
    void STDMETHODCALLTYPE CurrentMediaItemAvailable(BSTR) override {}
    void STDMETHODCALLTYPE CurrentItemChange(IDispatch*) override {}
    void STDMETHODCALLTYPE MediaCollectionChange() override {}
    void STDMETHODCALLTYPE MediaCollectionAttributeStringAdded(BSTR, BSTR) override {}
    void STDMETHODCALLTYPE MediaCollectionAttributeStringRemoved(BSTR, BSTR) override {}
    void STDMETHODCALLTYPE MediaCollectionAttributeStringChanged(BSTR, BSTR, BSTR) override {}
    void STDMETHODCALLTYPE PlaylistCollectionChange() override {}
    void STDMETHODCALLTYPE PlaylistCollectionPlaylistAdded(BSTR) override {}
    void STDMETHODCALLTYPE PlaylistCollectionPlaylistRemoved(BSTR) override {}
    void STDMETHODCALLTYPE PlaylistCollectionPlaylistSetAsDeleted(BSTR, VARIANT_BOOL) override {}
    void STDMETHODCALLTYPE ModeChange(BSTR, VARIANT_BOOL) override {}
    void STDMETHODCALLTYPE MediaError(IDispatch*) override {}
    void STDMETHODCALLTYPE OpenPlaylistSwitch(IDispatch*) override {}
    void STDMETHODCALLTYPE DomainChange(BSTR) override {}
    void STDMETHODCALLTYPE SwitchedToPlayerApplication() override {}
    void STDMETHODCALLTYPE SwitchedToControl() override {}
    void STDMETHODCALLTYPE PlayerDockedStateChange() override {}
    void STDMETHODCALLTYPE PlayerReconnect() override {}
    void STDMETHODCALLTYPE Click(short, short, long, long) override {}
    void STDMETHODCALLTYPE DoubleClick(short, short, long, long) override {}
    void STDMETHODCALLTYPE KeyDown(short, short) override {}
    void STDMETHODCALLTYPE KeyPress(short) override {}
    void STDMETHODCALLTYPE KeyUp(short, short) override {}
    void STDMETHODCALLTYPE MouseDown(short, short, long, long) override {}
    void STDMETHODCALLTYPE MouseMove(short, short, long, long) override {}
    void STDMETHODCALLTYPE MouseUp(short, short, long, long) override {}

    // Playback position of the shown document's source in milliseconds (the main window knows the
    // source); 0 without a main window.
    uint32_t GetPositionMs();
    // The player's current item is not audio (its "MediaType" is not "audio", or cannot be read).
    bool IsNonAudioMedia();

    // The main window; null after Destroy.
    sv::CSVPluginWindow* Window() const { return window_.get(); }
    // The live plug-in object: the newest one made, until its final release; null while there is
    // none. Player's thread only.
    static CSonavire* Live() { return live_; }
    // What the script bridge acts on: the video page's events enter this object's event path.
    sv::BridgeTarget* PageEventTarget() { return this; }

    // The host window's subclass procedure while the plug-in is in it.
    static LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR data);

private:
    explicit CSonavire(sv::MainWindowOptions windowOptions);
    ~CSonavire();

    // PlayerAccess, for the main window.
    bool CurrentMediaTags(sv::MediaTags& tags) override;
    bool PositionSeconds(double& seconds) override;
    void Play() override;
    void Stop() override;
    void Rewind() override;
    void SeekSeconds(double seconds) override;
    // BridgeTarget, for the script bridge.
    void PageMediaOpened(const sv::LyricsDocument& page) override;
    void PagePlayStateChanged(sv::PagePlayState state) override;
    void PagePositionChanged() override;
    void PageShowsLyrics(bool show) override;
    const sv::LyricsDocument* CurrentRequestDocument() override {
        return window_ ? &window_->RequestDocument() : nullptr;
    }
    CSonavire(const CSonavire&) = delete;
    CSonavire& operator=(const CSonavire&) = delete;

    class EventCall;
    // Runs an event on the live main window (none: nothing happens) inside an EventCall and the
    // callback boundary named where.
    template <class Handler>
    void ToWindow(const char* where, Handler&& handler);
    void DropSubscription();
    // Ends the main window; the object goes once no code of it runs (Destroy, the destructor).
    void RetireWindow();
    void SubclassHostWindow(HWND hostWindow);
    // The main window exists and has its window: events may reach it.
    sv::CSVPluginWindow* LiveWindow() const;

    ULONG references_ = 1;
    sv::ComPtr<IWMPCore> core_;
    sv::ComPtr<IWMPControls> controls_;
    sv::ComPtr<IConnectionPoint> connectionPoint_;
    DWORD adviseCookie_ = 0;
    sv::MainWindowOptions windowOptions_;
    std::unique_ptr<sv::CSVPluginWindow> window_;
    sv::UniqueMenu menu_;
    HWND hostWindow_ = nullptr;  // the host window this object subclassed
    static CSonavire* live_;
};

namespace sv {

// Reads a player version text: the part before the first "." as a decimal number; a text that
// does not start with digits counts as 0.
long PlayerMajorVersion(const wchar_t* versionText);

// Takes the plug-in's procedure out of a host window's subclass chain; false (nothing changed) when
// it is not there or someone has put a procedure of their own on top of the chain since.
bool GiveBackHostWindow(HWND hostWindow);

}  // namespace sv
