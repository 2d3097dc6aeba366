// CWebIDispatch: window.external of every page in every pane. A late-bound automation object with
// ten fixed members through which the community site's video theatre reports its video's events
// (they enter the plug-in object's player-event path with the player's codes plus 100), shows and
// hides the lyrics, reads the track, the plug-in's version and, on the community site only, the
// stored credentials, and hands over new credentials.
//
// One object per module: the application object makes it at start-up, installs it for the
// browser sites (InstallScriptBridge) and deletes it at exit. Its reference count serves the
// protocol only and never ends its life. Used on the user-interface thread only.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <functional>

#include "web/bridge_target.h"

namespace sv {

// The version text pages read as "sys_version" (the module's version record says the same).
inline constexpr wchar_t kBridgeVersionText[] = L"0.1.01.53";

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

    // liveTarget: the live plug-in object, or null while there is none. trusted: whether the
    // pages that may be calling now may read and replace the credentials (LivePagesAreTrusted
    // when not given).
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

    long ReferenceCount() const { return references_; }

private:
    class Arguments;
    void Act(DISPID id, const Arguments& arguments);
    void PlayOpen(const Arguments& arguments);
    void ShowLyrics(const Arguments& arguments);
    void GetMediaInfo(const Arguments& arguments);
    void SetUser(const Arguments& arguments);
    // The value of a known key (compared without regard to case); false for any other text.
    bool ValueOfKey(const wchar_t* key, UINT keyLength, BSTR* value);
    BridgeTarget* Target() const;
    bool Trusted() const;

    long references_ = 0;
    int depth_ = 0;  // member actions running now, nested through the page
    std::function<BridgeTarget*()> liveTarget_;
    std::function<bool()> trusted_;
};

// The bridge every browser site hands its pages (GetExternal); null: pages get no external object.
void InstallScriptBridge(CWebIDispatch* bridge);
CWebIDispatch* InstalledScriptBridge();

}  // namespace sv
