#include "plugin/sonavire.h"

#include <climits>
#include <new>

#include "base/hresult.h"
#include "base/utf.h"
#include "base/module_instance.h"
#include "base/module_lock.h"
#include "base/qi_table.h"
#include "base/ui_thread.h"
#include "panes/settings_dialog.h"
#include "plugin/sonavire_factory.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "window/window_subclass.h"

using sv::ComPtr;
using sv::UniqueBstr;
using sv::WindowSubclass;

namespace {

// Player codes of the events followed.
constexpr long kMediaOpen = wmposMediaOpen;    // 13
constexpr long kStopped = wmppsStopped;        // 1
constexpr long kPaused = wmppsPaused;          // 2
constexpr long kPlaying = wmppsPlaying;        // 3
constexpr long kMediaEnded = wmppsMediaEnded;  // 8

constexpr DWORD kMainWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;

// Top of the parent's client area at its full height, shown; or hidden while a non-audio item is
// current, so the player's own picture shows.
void AdjustHostPosition(CSonavire& plugin, HWND hwnd, WINDOWPOS& position) {
    if (plugin.IsNonAudioMedia()) {
        position.flags = (position.flags | SWP_HIDEWINDOW) & ~SWP_SHOWWINDOW;
        return;
    }
    const HWND parent = GetParent(hwnd);
    RECT current{};
    if (GetWindowRect(hwnd, &current)) MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&current), 2);
    // Flags that are cleared below must not bring in the values that came with them unset.
    if (position.flags & SWP_NOMOVE) {
        position.x = current.left;
        position.y = current.top;
    }
    if (position.flags & SWP_NOSIZE) {
        position.cx = current.right - current.left;
        position.cy = current.bottom - current.top;
    }
    position.flags = (position.flags & ~(SWP_NOZORDER | SWP_HIDEWINDOW)) | SWP_SHOWWINDOW;
    position.hwndInsertAfter = HWND_TOP;
    if (position.y != 0) {
        position.y = 0;
        position.flags &= ~SWP_NOMOVE;
    }
    RECT parentClient;
    if (parent && GetClientRect(parent, &parentClient) && position.cy != parentClient.bottom) {
        position.cy = parentClient.bottom;
        position.flags &= ~SWP_NOSIZE;
    }
}

std::u16string ItemAttribute(IWMPMedia* media, const wchar_t* name) {
    UniqueBstr attribute(name);
    UniqueBstr value;
    if (FAILED(media->getItemInfo(attribute.get(), value.put()))) return std::u16string();
    return std::u16string(sv::AsU16View(value.c_str(), value.length()));
}

}  // namespace

namespace sv {

long PlayerMajorVersion(const wchar_t* versionText) {
    if (!versionText) return 0;
    long major = 0;
    const wchar_t* c = versionText;
    for (; *c && *c != L'.'; ++c) {
        if (*c < L'0' || *c > L'9') return 0;
        const long digit = *c - L'0';
        major = major > (LONG_MAX - digit) / 10 ? LONG_MAX : major * 10 + digit;
    }
    return major;
}

bool GiveBackHostWindow(HWND hostWindow) {
    // The window's module lock goes with the procedure.
    if (!WindowSubclass::Remove(hostWindow, &CSonavire::HostWindowProc, CSonavire::kHostSubclassId)) return false;
    ModuleRelease();
    return true;
}

}  // namespace sv

// ---------------------------------------------------------------------------------------------
HRESULT CSonavire::CreateInstance(REFIID riid, void** ppv, sv::MainWindowOptions windowOptions) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return sv::ComBoundary("CreateInstance", [&] {
        CSonavire* object = new CSonavire(std::move(windowOptions));
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    });
}

HRESULT CreateSonavireObject(REFIID riid, void** ppv, sv::CWebIDispatch* scriptBridge) {
    sv::MainWindowOptions options;
    options.scriptBridge = scriptBridge;
    return CSonavire::CreateInstance(riid, ppv, std::move(options));
}

CSonavire* CSonavire::live_ = nullptr;

CSonavire::CSonavire(sv::MainWindowOptions windowOptions) : windowOptions_(std::move(windowOptions)) {
    // The lock first: everything below may fail, and the destructor then does not run.
    sv::ModuleAddRef();
    sv::NoteUiThread();  // the player makes its plug-in on its user-interface thread
    try {
        menu_.reset(LoadMenuW(sv::ModuleInstance(), MAKEINTRESOURCEW(IDR_PLUGIN_MENU)));
        window_ =
            std::make_unique<sv::CSVPluginWindow>(static_cast<sv::PlayerAccess*>(this), menu_.get(), windowOptions_);
    } catch (...) {
        window_.reset();
        sv::ModuleRelease();
        throw;
    }
    live_ = this;
}

CSonavire::~CSonavire() {
    if (live_ == this) live_ = nullptr;
    DropSubscription();
    RetireWindow();
    // The host window must not keep a procedure of a module that may be unloaded now; but while a
    // newer live object works in the same window, the window stays the plug-in's.
    const CSonavire* live = live_;
    const bool hostStillUsed = live && live != this && live->hostWindow_ == hostWindow_;
    if (hostWindow_ && IsWindow(hostWindow_) && !hostStillUsed) sv::GiveBackHostWindow(hostWindow_);
    controls_.reset();
    core_.reset();
    menu_.reset();
    sv::ModuleRelease();
}

STDMETHODIMP CSonavire::QueryInterface(REFIID riid, void** ppv) {
    static const sv::InterfaceMapEntry kInterfaces[] = {
        SV_INTERFACE_ENTRY_IID(sv::kIidWmpEvents, CSonavire, IWMPEvents),
        SV_INTERFACE_ENTRY_IID(sv::kIidWmpPluginUi, CSonavire, IWMPPluginUI),
        SV_INTERFACE_MAP_END,
    };
    return sv::QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

// Apartment-threaded: the count is only touched on the player's thread.
STDMETHODIMP_(ULONG) CSonavire::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) CSonavire::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

// ---------------------------------------------------------------------------------------------
void CSonavire::DropSubscription() {
    if (!connectionPoint_) return;
    if (adviseCookie_ != 0) connectionPoint_->Unadvise(adviseCookie_);
    adviseCookie_ = 0;
    connectionPoint_.reset();
}

STDMETHODIMP CSonavire::SetCore(IWMPCore* core) {
    DropSubscription();
    controls_.reset();
    core_.reset();
    if (!core) return S_OK;

    core_ = ComPtr<IWMPCore>::From(core);
    core_->get_controls(controls_.put());
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = core->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (FAILED(hr) || !container) return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = container->FindConnectionPoint(sv::kIidWmpEvents, connectionPoint_.put());
    if (FAILED(hr) || !connectionPoint_) {
        connectionPoint_.reset();
        return FAILED(hr) ? hr : E_FAIL;
    }
    hr = connectionPoint_->Advise(static_cast<IWMPEvents*>(this), &adviseCookie_);
    if (FAILED(hr) || adviseCookie_ == 0) {
        adviseCookie_ = 0;
        connectionPoint_.reset();
    }
    return hr;
}

STDMETHODIMP CSonavire::Create(HWND hostWindow, HWND* window) {
    if (!window) return E_FAIL;
    *window = nullptr;
    return sv::ComBoundary("Create", [&]() -> HRESULT {
        if (core_) {
            UniqueBstr version;
            if (FAILED(core_->get_versionInfo(version.put()))) return E_FAIL;
            if (sv::PlayerMajorVersion(version.c_str()) < kLowestPlayerVersion) {
                MessageBeep(0);
                sv::CSVSettings notice;
                notice.ShowVersionNotice(sv::ModuleInstance(), hostWindow);
                return E_FAIL;
            }
        }
        if (!IsWindow(hostWindow)) return E_FAIL;
        if (window_ && window_->Hwnd()) return E_UNEXPECTED;  // made already
        // Every window gets a window object of its own: one whose window went with its host
        // (without a Destroy) has closed its lookups for good.
        window_ =
            std::make_unique<sv::CSVPluginWindow>(static_cast<sv::PlayerAccess*>(this), menu_.get(), windowOptions_);

        SubclassHostWindow(hostWindow);
        SetWindowLongPtrW(hostWindow, GWL_STYLE, GetWindowLongPtrW(hostWindow, GWL_STYLE) | WS_CLIPCHILDREN);

        if (const HWND parent = GetParent(hostWindow)) {
            RECT outer;
            if (GetWindowRect(parent, &outer)) {
                SetWindowPos(hostWindow, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                             SWP_NOZORDER);
            }
        }
        // The player may size the window it is handed only later: until then it fills the host.
        // Made at that size, it and its first panes need no move afterwards.
        RECT host{};
        GetClientRect(hostWindow, &host);
        wchar_t name[sv::kSettingTextChars] = {};
        LoadStringW(sv::ModuleInstance(), IDS_PLUGIN_NAME, name, static_cast<int>(sv::kSettingTextChars));
        const HWND made = window_->CreateMainWindow(sv::ModuleInstance(), hostWindow, name, kMainWindowStyle, &host);
        if (!made) {
            window_.reset();
            return E_FAIL;
        }
        *window = made;

        // As if the current item had just opened and started: its lyrics are looked up at once.
        IWMPEvents* events = this;
        events->OpenStateChange(kMediaOpen);
        events->PlayStateChange(kPlaying);
        return S_OK;
    });
}

void CSonavire::SubclassHostWindow(HWND hostWindow) {
    hostWindow_ = hostWindow;
    // One module lock per window that holds the plug-in's procedure, until it is given back. A
    // window still held from an earlier window of this or another object of the module keeps its one.
    if (WindowSubclass::Install(hostWindow, &HostWindowProc, kHostSubclassId)) sv::ModuleAddRef();
}

STDMETHODIMP CSonavire::Destroy() {
    if (!window_) return E_UNEXPECTED;
    RetireWindow();
    return S_OK;
}

void CSonavire::RetireWindow() {
    if (!window_) return;
    // The player may let go from inside a loop the window runs (its dialog, a menu, a page's
    // script): the window goes now, the object once that code has returned.
    window_->Retire();
    sv::DeleteWhenNoHandlerRuns(std::move(window_));
}

// One event from the player or the page into the window. The window object (sv::HandlerScope) and
// this object (a reference of its own) stay until it returns, whatever the player does meanwhile in
// a loop the event runs into.
class CSonavire::EventCall {
public:
    explicit EventCall(CSonavire& plugin) : plugin_(plugin) { plugin_.AddRef(); }
    ~EventCall() { plugin_.Release(); }
    EventCall(const EventCall&) = delete;
    EventCall& operator=(const EventCall&) = delete;

private:
    sv::HandlerScope handlers_;
    CSonavire& plugin_;
};

STDMETHODIMP CSonavire::DisplayPropertyPage(HWND) { return E_NOTIMPL; }
STDMETHODIMP CSonavire::GetProperty(const WCHAR*, VARIANT*) { return E_NOTIMPL; }
STDMETHODIMP CSonavire::SetProperty(const WCHAR*, const VARIANT*) { return E_NOTIMPL; }

STDMETHODIMP CSonavire::TranslateAccelerator(LPMSG message) {
    if (!window_) return E_UNEXPECTED;
    if (!message) return E_POINTER;
    return S_FALSE;
}

// ---------------------------------------------------------------------------------------------
sv::CSVPluginWindow* CSonavire::LiveWindow() const {
    // Before Create (and after Destroy) there is no window for events to reach.
    return window_ && window_->Hwnd() ? window_.get() : nullptr;
}

template <class Handler>
void CSonavire::ToWindow(const char* where, Handler&& handler) {
    sv::CSVPluginWindow* window = LiveWindow();
    if (!window) return;
    const EventCall call(*this);
    sv::CallbackBoundary(where, [&] { handler(*window); });
}

void CSonavire::OpenStateChange(long newState) {
    ToWindow("OpenStateChange", [&](sv::CSVPluginWindow& window) {
        if (newState == kMediaOpen) window.OnMediaOpen(sv::MediaSource::Player);
    });
}

void CSonavire::PlayStateChange(long newState) {
    constexpr sv::MediaSource kPlayer = sv::MediaSource::Player;
    ToWindow("PlayStateChange", [&](sv::CSVPluginWindow& window) {
        switch (newState) {
            case kStopped:
                window.OnPlaybackStopped(kPlayer);
                break;
            case kPaused:
                window.OnPlaybackPaused(kPlayer);
                break;
            case kPlaying:
                window.OnPlaybackStarted(kPlayer);
                break;
            case kMediaEnded:
                window.OnMediaEnded(kPlayer);
                break;
            default:
                break;
        }
    });
}

void CSonavire::PositionChange(double, double) {
    ToWindow("PositionChange", [](sv::CSVPluginWindow& window) { window.OnPositionChange(); });
}

void CSonavire::PageMediaOpened(const sv::LyricsDocument& page) {
    ToWindow("page open", [&](sv::CSVPluginWindow& window) { window.OnMediaOpen(sv::MediaSource::VideoPage, &page); });
}

void CSonavire::PagePlayStateChanged(sv::PagePlayState state) {
    constexpr sv::MediaSource kPage = sv::MediaSource::VideoPage;
    ToWindow("page play state", [&](sv::CSVPluginWindow& window) {
        switch (state) {
            case sv::PagePlayState::Stopped:
                window.OnPlaybackStopped(kPage);
                break;
            case sv::PagePlayState::Paused:
                window.OnPlaybackPaused(kPage);
                break;
            case sv::PagePlayState::Playing:
                window.OnPlaybackStarted(kPage);
                break;
            case sv::PagePlayState::MediaEnded:
                window.OnMediaEnded(kPage);
                break;
        }
    });
}

void CSonavire::PagePositionChanged() {
    ToWindow("page position", [](sv::CSVPluginWindow& window) { window.OnPositionChange(); });
}

void CSonavire::PageShowsLyrics(bool show) {
    ToWindow("page shows lyrics", [&](sv::CSVPluginWindow& window) { window.SetShowLyrics(show); });
}

uint32_t CSonavire::GetPositionMs() { return window_ ? window_->GetPositionMs() : 0; }

bool CSonavire::CurrentMediaTags(sv::MediaTags& tags) {
    if (!core_) return false;
    ComPtr<IWMPMedia> media;
    if (core_->get_currentMedia(media.put()) != S_OK || !media) return false;
    tags.artist = ItemAttribute(media.get(), L"Artist");
    tags.title = ItemAttribute(media.get(), L"Title");
    tags.album = ItemAttribute(media.get(), L"Album");
    // What the lookup falls back on when the service has no lyrics; the worker reads the file.
    tags.lyrics = ItemAttribute(media.get(), L"WM/Lyrics");
    tags.syncLyrics = ItemAttribute(media.get(), L"WM/Lyrics_Synchronised");
    UniqueBstr source;
    if (SUCCEEDED(media->get_sourceURL(source.put()))) {
        tags.sourceUrl.assign(sv::AsU16View(source.c_str(), source.length()));
    }
    return true;
}

bool CSonavire::PositionSeconds(double& seconds) {
    return controls_ && SUCCEEDED(controls_->get_currentPosition(&seconds));
}

void CSonavire::Play() {
    if (controls_) controls_->play();
}

void CSonavire::Stop() {
    if (controls_) controls_->stop();
}

void CSonavire::Rewind() {
    if (controls_) controls_->put_currentPosition(0.0);
}

void CSonavire::SeekSeconds(double seconds) {
    if (controls_) controls_->put_currentPosition(seconds);
}

bool CSonavire::IsNonAudioMedia() {
    if (!core_) return false;
    ComPtr<IWMPMedia> media;
    if (core_->get_currentMedia(media.put()) != S_OK || !media) return false;
    UniqueBstr attribute(L"MediaType");
    UniqueBstr value;
    if (FAILED(media->getItemInfo(attribute.get(), value.put()))) return true;
    return CompareStringOrdinal(value.c_str(), static_cast<int>(value.length()), L"audio", -1, TRUE) != CSTR_EQUAL;
}

// ---------------------------------------------------------------------------------------------
LRESULT CALLBACK CSonavire::HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR) {
    CSonavire* plugin = message == WM_NCDESTROY ? nullptr : live_;
    if (message == WM_NCDESTROY || message == WM_DESTROY || !plugin) {
        // The window goes back to its previous procedure (at WM_NCDESTROY, only reached when that
        // could not be done at WM_DESTROY, the window is going anyway). The module lock goes last:
        // once it is released the module may be unloaded, and this procedure is still on the stack
        // until the rest of the chain has returned.
        const bool ownsLock = message == WM_NCDESTROY ? WindowSubclass::Forget(hwnd, &HostWindowProc, id)
                                                      : WindowSubclass::Remove(hwnd, &HostWindowProc, id);
        const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
        if (ownsLock) sv::ModuleRelease();
        return result;
    }
    if (message == WM_WINDOWPOSCHANGING && lParam) {
        sv::CallbackBoundary("host window position",
                             [&] { AdjustHostPosition(*plugin, hwnd, *reinterpret_cast<WINDOWPOS*>(lParam)); });
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}
