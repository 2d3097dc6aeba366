// A UI plug-in written for the tests: IWMPPluginUI and IWMPEvents behind a QueryInterface table.
// It subscribes in SetCore as a real plug-in does, makes a red child window in Create, records
// every call the player makes on it in order, and checks the host calls against expectations set
// by the test (SET_EXPECT before, CHECK_CALLED after, as Wine's conformance tests do).
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/wmp_plugin_ui.h"

#define DEFINE_EXPECT(func) inline bool expect_##func = false, called_##func = false
#define SET_EXPECT(func) (expect_##func = true)
#define CHECK_EXPECT(func)                                      \
    do {                                                        \
        EXPECT_TRUE(expect_##func) << "unexpected call " #func; \
        expect_##func = false;                                  \
        called_##func = true;                                   \
    } while (0)
#define CHECK_CALLED(func)                               \
    do {                                                 \
        EXPECT_TRUE(called_##func) << "expected " #func; \
        expect_##func = called_##func = false;           \
    } while (0)
#define CHECK_NOT_CALLED(func)                              \
    do {                                                    \
        EXPECT_FALSE(called_##func) << "unexpected " #func; \
        expect_##func = called_##func = false;              \
    } while (0)

DEFINE_EXPECT(SetCore);
DEFINE_EXPECT(SetCore_null);
DEFINE_EXPECT(Create);
DEFINE_EXPECT(Destroy);

namespace svtest {

inline constexpr wchar_t kPluginWindowClass[] = L"SvTestPluginWindow";

class TestPlugin final : public IWMPPluginUI, public IWMPEvents {
public:
    std::vector<std::string> record;  // host calls and events, in order
    HRESULT createResult = S_OK;
    HWND hostWindow = nullptr;
    HWND window = nullptr;
    DWORD cookie = 0;
    sv::ComPtr<IWMPCore> core;
    sv::ComPtr<IWMPControls> controls;
    std::function<void(long)> onPlayState;  // runs inside PlayStateChange

    ULONG References() const { return references_; }
    // The events only (drops the host calls), and forgets them.
    std::vector<std::string> TakeEvents();

    // IUnknown, through the table.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IWMPPluginUI
    HRESULT STDMETHODCALLTYPE SetCore(IWMPCore* newCore) override;
    HRESULT STDMETHODCALLTYPE Create(HWND parent, HWND* made) override;
    HRESULT STDMETHODCALLTYPE Destroy() override;
    HRESULT STDMETHODCALLTYPE DisplayPropertyPage(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperty(const WCHAR*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR*, const VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override { return message ? S_FALSE : E_POINTER; }

    // IWMPEvents: the four a lyrics plug-in follows, and every other one recorded by name.
    void STDMETHODCALLTYPE OpenStateChange(LONG state) override;
    void STDMETHODCALLTYPE PlayStateChange(LONG state) override;
    void STDMETHODCALLTYPE PositionChange(double oldPosition, double newPosition) override;
    void STDMETHODCALLTYPE CurrentItemChange(IDispatch* media) override;
    void STDMETHODCALLTYPE AudioLanguageChange(LONG) override { Other("AudioLanguageChange"); }
    void STDMETHODCALLTYPE StatusChange() override { Other("StatusChange"); }
    void STDMETHODCALLTYPE ScriptCommand(BSTR, BSTR) override { Other("ScriptCommand"); }
    void STDMETHODCALLTYPE NewStream() override { Other("NewStream"); }
    void STDMETHODCALLTYPE Disconnect(LONG) override { Other("Disconnect"); }
    void STDMETHODCALLTYPE Buffering(VARIANT_BOOL) override { Other("Buffering"); }
    void STDMETHODCALLTYPE Error() override { Other("Error"); }
    void STDMETHODCALLTYPE Warning(LONG, LONG, BSTR) override { Other("Warning"); }
    void STDMETHODCALLTYPE EndOfStream(LONG) override { Other("EndOfStream"); }
    void STDMETHODCALLTYPE MarkerHit(LONG) override { Other("MarkerHit"); }
    void STDMETHODCALLTYPE DurationUnitChange(LONG) override { Other("DurationUnitChange"); }
    void STDMETHODCALLTYPE CdromMediaChange(LONG) override { Other("CdromMediaChange"); }
    void STDMETHODCALLTYPE PlaylistChange(IDispatch*, WMPPlaylistChangeEventType) override { Other("PlaylistChange"); }
    void STDMETHODCALLTYPE CurrentPlaylistChange(WMPPlaylistChangeEventType) override {
        Other("CurrentPlaylistChange");
    }
    void STDMETHODCALLTYPE CurrentPlaylistItemAvailable(BSTR) override { Other("CurrentPlaylistItemAvailable"); }
    void STDMETHODCALLTYPE MediaChange(IDispatch*) override { Other("MediaChange"); }
    void STDMETHODCALLTYPE CurrentMediaItemAvailable(BSTR) override { Other("CurrentMediaItemAvailable"); }
    void STDMETHODCALLTYPE MediaCollectionChange() override { Other("MediaCollectionChange"); }
    void STDMETHODCALLTYPE MediaCollectionAttributeStringAdded(BSTR, BSTR) override {
        Other("MediaCollectionAttributeStringAdded");
    }
    void STDMETHODCALLTYPE MediaCollectionAttributeStringRemoved(BSTR, BSTR) override {
        Other("MediaCollectionAttributeStringRemoved");
    }
    void STDMETHODCALLTYPE MediaCollectionAttributeStringChanged(BSTR, BSTR, BSTR) override {
        Other("MediaCollectionAttributeStringChanged");
    }
    void STDMETHODCALLTYPE PlaylistCollectionChange() override { Other("PlaylistCollectionChange"); }
    void STDMETHODCALLTYPE PlaylistCollectionPlaylistAdded(BSTR) override { Other("PlaylistCollectionPlaylistAdded"); }
    void STDMETHODCALLTYPE PlaylistCollectionPlaylistRemoved(BSTR) override {
        Other("PlaylistCollectionPlaylistRemoved");
    }
    void STDMETHODCALLTYPE PlaylistCollectionPlaylistSetAsDeleted(BSTR, VARIANT_BOOL) override {
        Other("PlaylistCollectionPlaylistSetAsDeleted");
    }
    void STDMETHODCALLTYPE ModeChange(BSTR, VARIANT_BOOL) override { Other("ModeChange"); }
    void STDMETHODCALLTYPE MediaError(IDispatch*) override { Other("MediaError"); }
    void STDMETHODCALLTYPE OpenPlaylistSwitch(IDispatch*) override { Other("OpenPlaylistSwitch"); }
    void STDMETHODCALLTYPE DomainChange(BSTR) override { Other("DomainChange"); }
    void STDMETHODCALLTYPE SwitchedToPlayerApplication() override { Other("SwitchedToPlayerApplication"); }
    void STDMETHODCALLTYPE SwitchedToControl() override { Other("SwitchedToControl"); }
    void STDMETHODCALLTYPE PlayerDockedStateChange() override { Other("PlayerDockedStateChange"); }
    void STDMETHODCALLTYPE PlayerReconnect() override { Other("PlayerReconnect"); }
    void STDMETHODCALLTYPE Click(short, short, LONG, LONG) override { Other("Click"); }
    void STDMETHODCALLTYPE DoubleClick(short, short, LONG, LONG) override { Other("DoubleClick"); }
    void STDMETHODCALLTYPE KeyDown(short, short) override { Other("KeyDown"); }
    void STDMETHODCALLTYPE KeyPress(short) override { Other("KeyPress"); }
    void STDMETHODCALLTYPE KeyUp(short, short) override { Other("KeyUp"); }
    void STDMETHODCALLTYPE MouseDown(short, short, LONG, LONG) override { Other("MouseDown"); }
    void STDMETHODCALLTYPE MouseMove(short, short, LONG, LONG) override { Other("MouseMove"); }
    void STDMETHODCALLTYPE MouseUp(short, short, LONG, LONG) override { Other("MouseUp"); }

private:
    ~TestPlugin() = default;
    void Other(const char* name) { record.push_back(std::string("event ") + name); }
    void Unsubscribe();

    ULONG references_ = 1;
};

// Makes TestPlugin objects for CoCreateInstance (registered in this process) and keeps them.
class TestPluginFactory final : public IClassFactory {
public:
    std::vector<sv::ComPtr<TestPlugin>> made;
    HRESULT nextCreateResult = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ULONG references_ = 1;
};

// Registers the plug-in window class (solid red, so pictures show where the plug-in is).
void RegisterPluginWindowClass();

}  // namespace svtest
