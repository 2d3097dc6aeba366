// The script bridge: window.external as the community site's pages see it. A late-bound
// automation object with ten fixed members through which the video theatre reports its video's
// events (they take the plug-in object's player-event path, marked as the video page's), shows
// and hides the lyrics, reads the track, the plug-in's version and the stored user name
// and password, and hands over new credentials.
//
// CWebIDispatch is the module's one bridge: the application object makes it at start-up, hands it
// to each plug-in object it makes (down to the browser sites of its panes) and deletes it at exit.
// It owns the page document, the track the video page last reported. Its reference
// count serves the protocol and the module's unload check only and never ends its life. Pages do
// not get it: each browser site hands its pages a CPaneExternal of its own, which knows its
// browser, judges every call by the document that makes it and acts through the module's bridge.
// The track, the user name and the credentials go only to the top-level document of a pane that
// shows a trusted page (page_trust.h); every other document (a frame, another page) gets empty
// texts, and its new credentials are dropped.
//
// Used on the user-interface thread only.
#pragma once
#include <windows.h>
#include <dispex.h>
#include <oleauto.h>

#include <atomic>
#include <functional>

#include "sonavire_version.h"
#include "web/bridge_target.h"

namespace sv {

// The version text pages read as "sys_version": the file VERSION, as in the module's version record.
inline constexpr wchar_t kBridgeVersionText[] = L"" SONAVIRE_VERSION_TEXT;

// The script bridge: the automation object pages reach (through their pane's CPaneExternal) as
// window.external.
class CWebIDispatch final : public IDispatch {
public:
    // Dispatch ids of the members, in table order.
    enum Member : DISPID {
        kIsOskelSonavire = 1,
        kOnYouTubePlayOpen,
        kOnYouTubePlayStart,
        kOnYouTubePlayPause,
        kOnYouTubePlayStop,
        kOnYouTubePlayEnd,
        kOnYouTubePositionChange,
        kOnYouTubeShowLyrics,
        kOnYouTubeGetMediaInfo,
        kOnYouTubeSetUser,
    };
    static constexpr int kMemberCount = 10;
    // Events raised from inside events raised by a page beyond this depth are dropped, so that a
    // page answering every call with another call cannot exhaust the stack.
    static constexpr int kMostNestedCalls = 8;

    // liveTarget: the live plug-in object, or null while there is none. trusted: whether a page
    // calling this object itself (not through a pane's external object) may read the track and
    // read and replace the credentials; without it such a page may not.
    explicit CWebIDispatch(std::function<BridgeTarget*()> liveTarget, std::function<bool()> trusted = nullptr);
    ~CWebIDispatch() = default;
    CWebIDispatch(const CWebIDispatch&) = delete;
    CWebIDispatch& operator=(const CWebIDispatch&) = delete;

    // IUnknown: IID_IUnknown and IID_IDispatch only.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    // Never frees: the application object deletes the bridge at module exit.
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    // Exact, case-sensitive names; every name is looked up even after a miss.
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    // Always S_OK. A property get answers true; only a method call acts.
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // Invoke for a caller judged already: trusted, it may read the track, the user name and the
    // password and replace the credentials; untrusted, it reads them empty and replaces nothing.
    // act false: the call is answered but nothing is done (the caller's pane is gone).
    HRESULT Call(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, bool trusted, bool act = true);

    long ReferenceCount() const { return references_.load(); }
    // The track the video page last reported through "OnYouTubePlayOpen".
    const LyricsDocument& PageDocument() const { return pageDocument_; }
    LyricsDocument& PageDocument() { return pageDocument_; }

private:
    class Arguments;
    void Act(DISPID id, const Arguments& arguments, bool trusted);
    void PlayOpen(const Arguments& arguments);
    void ShowLyrics(const Arguments& arguments);
    void GetMediaInfo(const Arguments& arguments, bool trusted);
    void SetUser(const Arguments& arguments, bool trusted);
    // The value of a known key (compared without regard to case); false for any other text.
    bool ValueOfKey(const wchar_t* key, UINT keyLength, bool trusted, BSTR* value);
    BridgeTarget* Target() const;

    // Changed on the player's thread, read by DllCanUnloadNow on whichever thread COM calls it on.
    std::atomic<long> references_{0};
    int depth_ = 0;  // member actions running now, nested through the pages
    std::function<BridgeTarget*()> liveTarget_;
    std::function<bool()> trusted_;
    LyricsDocument pageDocument_;
};

class CWebBrowser2;

// window.external of the pages of one browser control: made by the control's site when a page
// first asks, handed to every document of that control (frames included), holding a reference to
// the module's bridge while it lives. It judges each call by its caller: the window that
// InvokeEx's caller names must be the control's top-level window, and the control must show a
// trusted page; a plain Invoke (no caller) is judged by the page alone. Once its control is gone
// (Detach) it still answers, but does nothing and gives nothing.
class CPaneExternal final : public IDispatchEx {
public:
    CPaneExternal(CWebIDispatch& bridge, CWebBrowser2* browser);
    CPaneExternal(const CPaneExternal&) = delete;
    CPaneExternal& operator=(const CPaneExternal&) = delete;
    // The control is going: the weak link to it is cleared.
    void Detach() { browser_ = nullptr; }

    // IUnknown: IID_IUnknown, IID_IDispatch and IID_IDispatchEx. Freed with its last reference.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, as the bridge's.
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // IDispatchEx: names as GetIDsOfNames (exact, whatever the flags ask); InvokeEx judges the
    // caller. The members are fixed: nothing to delete, enumerate or describe.
    STDMETHODIMP GetDispID(BSTR name, DWORD flags, DISPID* id) override;
    STDMETHODIMP InvokeEx(DISPID id, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                          IServiceProvider* caller) override;
    STDMETHODIMP DeleteMemberByName(BSTR, DWORD) override { return S_FALSE; }
    STDMETHODIMP DeleteMemberByDispID(DISPID) override { return S_FALSE; }
    STDMETHODIMP GetMemberProperties(DISPID, DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMemberName(DISPID, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetNextDispID(DWORD, DISPID, DISPID* next) override {
        if (next) *next = DISPID_UNKNOWN;
        return S_FALSE;
    }
    STDMETHODIMP GetNameSpaceParent(IUnknown** parent) override;

private:
    ~CPaneExternal();
    HRESULT Dispatch(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, IServiceProvider* caller);

    ULONG references_ = 1;
    CWebIDispatch& bridge_;
    CWebBrowser2* browser_;  // weak: cleared by Detach when the control goes
};

}  // namespace sv
