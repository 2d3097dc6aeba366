#include "player_engine.h"

#include <olectl.h>

#include <algorithm>
#include <atomic>

#include "base/qi_table.h"
#include "base/wmp_plugin_ui.h"

namespace sv::standin {
namespace {

double QpcSeconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

std::string IidText(REFIID iid) {
    wchar_t text[40] = {};
    StringFromGUID2(iid, text, 40);
    return Narrow(text);
}

BSTR AllocText(const std::wstring& text) { return SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); }

}  // namespace

// Reference counting shared by the player's COM objects; each is detached from the engine when the
// engine goes, after which it only answers E_UNEXPECTED (a plug-in may keep references longer).
class StandinObject {
public:
    void Detach() { engine_ = nullptr; }

protected:
    explicit StandinObject(PlayerEngine* engine) : engine_(engine) {}
    virtual ~StandinObject() = default;
    ULONG AddRefObject() { return ++references_; }
    ULONG ReleaseObject() {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    void Record(const std::string& text) {
        if (engine_) engine_->Record(LogKind::Call, text);
    }
    HRESULT NotImplemented(const char* name) {
        Record(std::string(name) + " (not implemented)");
        return E_NOTIMPL;
    }

    PlayerEngine* engine_;

private:
    std::atomic<ULONG> references_{1};
};

#define SV_STANDIN_UNKNOWN                                               \
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefObject(); } \
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseObject(); }

// The player's objects are reached through their vtables only; type information is not offered.
#define SV_STANDIN_NO_DISPATCH                                                                                        \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {                                                \
        if (!count) return E_POINTER;                                                                                 \
        *count = 0;                                                                                                   \
        return S_OK;                                                                                                  \
    }                                                                                                                 \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {                                    \
        if (info) *info = nullptr;                                                                                    \
        return E_NOTIMPL;                                                                                             \
    }                                                                                                                 \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }    \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
        return E_NOTIMPL;                                                                                             \
    }

#define SV_STANDIN_NOT_IMPLEMENTED(prefix, name, ...) \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return NotImplemented(prefix "." #name); }

// ---------------------------------------------------------------------------------------------
class StandinMedia final : public IWMPMedia, public StandinObject {
public:
    StandinMedia(PlayerEngine* engine, Track track) : StandinObject(engine), track_(std::move(track)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        static const InterfaceMapEntry kInterfaces[] = {
            SV_INTERFACE_ENTRY_IID(kIidWmpMedia, StandinMedia, IWMPMedia),
            SV_INTERFACE_ENTRY_IID(IID_IDispatch, StandinMedia, IWMPMedia),
            SV_INTERFACE_MAP_END,
        };
        return QueryInterfaceFromTable(this, kInterfaces, iid, out);
    }
    SV_STANDIN_UNKNOWN
    SV_STANDIN_NO_DISPATCH

    HRESULT STDMETHODCALLTYPE getItemInfo(BSTR name, BSTR* value) override {
        Record("media.getItemInfo(" + Narrow(name) + ")");
        if (!value) return E_POINTER;
        *value = nullptr;
        if (!engine_) return E_UNEXPECTED;
        if (!name) return E_INVALIDARG;
        const auto found = track_.attributes.find(name);
        if (found == track_.attributes.end()) {
            if (engine_->missingAttributeAnswer_ == MissingAttributeAnswer::Failure) return E_INVALIDARG;
            *value = SysAllocString(L"");
        } else {
            *value = AllocText(found->second);
        }
        return *value ? S_OK : E_OUTOFMEMORY;
    }

    SV_STANDIN_NOT_IMPLEMENTED("media", get_isIdentical, IWMPMedia*, VARIANT_BOOL*)
    HRESULT STDMETHODCALLTYPE get_sourceURL(BSTR* value) override {
        Record("media.get_sourceURL");
        if (!value) return E_POINTER;
        *value = AllocText(track_.sourceUrl);
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    SV_STANDIN_NOT_IMPLEMENTED("media", get_name, BSTR*)
    SV_STANDIN_NOT_IMPLEMENTED("media", put_name, BSTR)
    SV_STANDIN_NOT_IMPLEMENTED("media", get_imageSourceWidth, LONG*)
    SV_STANDIN_NOT_IMPLEMENTED("media", get_imageSourceHeight, LONG*)
    SV_STANDIN_NOT_IMPLEMENTED("media", get_markerCount, LONG*)
    SV_STANDIN_NOT_IMPLEMENTED("media", getMarkerTime, LONG, double*)
    SV_STANDIN_NOT_IMPLEMENTED("media", getMarkerName, LONG, BSTR*)
    SV_STANDIN_NOT_IMPLEMENTED("media", get_duration, double*)
    SV_STANDIN_NOT_IMPLEMENTED("media", get_durationString, BSTR*)
    SV_STANDIN_NOT_IMPLEMENTED("media", get_attributeCount, LONG*)
    SV_STANDIN_NOT_IMPLEMENTED("media", getAttributeName, LONG, BSTR*)
    SV_STANDIN_NOT_IMPLEMENTED("media", setItemInfo, BSTR, BSTR)
    SV_STANDIN_NOT_IMPLEMENTED("media", getItemInfoByAtom, LONG, BSTR*)
    SV_STANDIN_NOT_IMPLEMENTED("media", isMemberOf, IWMPPlaylist*, VARIANT_BOOL*)
    SV_STANDIN_NOT_IMPLEMENTED("media", isReadOnlyItem, BSTR, VARIANT_BOOL*)

private:
    Track track_;
};

// ---------------------------------------------------------------------------------------------
class StandinControls final : public IWMPControls, public StandinObject {
public:
    explicit StandinControls(PlayerEngine* engine) : StandinObject(engine) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        static const InterfaceMapEntry kInterfaces[] = {
            SV_INTERFACE_ENTRY_IID(kIidWmpControls, StandinControls, IWMPControls),
            SV_INTERFACE_ENTRY_IID(IID_IDispatch, StandinControls, IWMPControls),
            SV_INTERFACE_MAP_END,
        };
        return QueryInterfaceFromTable(this, kInterfaces, iid, out);
    }
    SV_STANDIN_UNKNOWN
    SV_STANDIN_NO_DISPATCH

    HRESULT STDMETHODCALLTYPE play() override {
        Record("controls.play");
        if (!engine_) return E_UNEXPECTED;
        engine_->DoPlay();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE stop() override {
        Record("controls.stop");
        if (!engine_) return E_UNEXPECTED;
        engine_->DoStop();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE pause() override {
        Record("controls.pause");
        if (!engine_) return E_UNEXPECTED;
        engine_->DoPause();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_currentPosition(double* position) override {
        Record("controls.get_currentPosition");
        if (!position) return E_POINTER;
        *position = 0.0;
        if (!engine_) return E_UNEXPECTED;
        *position = engine_->Position();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_currentPosition(double position) override {
        Record(Printf("controls.put_currentPosition(%g)", position));
        if (!engine_) return E_UNEXPECTED;
        engine_->DoSeek(position);
        return S_OK;
    }

    SV_STANDIN_NOT_IMPLEMENTED("controls", get_isAvailable, BSTR, VARIANT_BOOL*)
    SV_STANDIN_NOT_IMPLEMENTED("controls", fastForward)
    SV_STANDIN_NOT_IMPLEMENTED("controls", fastReverse)
    SV_STANDIN_NOT_IMPLEMENTED("controls", get_currentPositionString, BSTR*)
    SV_STANDIN_NOT_IMPLEMENTED("controls", next)
    SV_STANDIN_NOT_IMPLEMENTED("controls", previous)
    SV_STANDIN_NOT_IMPLEMENTED("controls", currentItem, IWMPMedia**)
    SV_STANDIN_NOT_IMPLEMENTED("controls", put_currentItem, IWMPMedia*)
    SV_STANDIN_NOT_IMPLEMENTED("controls", get_currentMarker, LONG*)
    SV_STANDIN_NOT_IMPLEMENTED("controls", put_currentMarker, LONG)
    SV_STANDIN_NOT_IMPLEMENTED("controls", playItem, IWMPMedia*)
};

// ---------------------------------------------------------------------------------------------
class StandinConnectionPoint final : public IConnectionPoint, public StandinObject {
public:
    StandinConnectionPoint(PlayerEngine* engine, IConnectionPointContainer* container)
        : StandinObject(engine), container_(ComPtr<IConnectionPointContainer>::From(container)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        static const InterfaceMapEntry kInterfaces[] = {
            SV_INTERFACE_ENTRY_IID(IID_IConnectionPoint, StandinConnectionPoint, IConnectionPoint),
            SV_INTERFACE_MAP_END,
        };
        return QueryInterfaceFromTable(this, kInterfaces, iid, out);
    }
    SV_STANDIN_UNKNOWN

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (!iid) return E_POINTER;
        *iid = kIidWmpEvents;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (!container) return E_POINTER;
        *container = ComPtr<IConnectionPointContainer>::From(container_.get()).detach();
        return *container ? S_OK : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        if (cookie) *cookie = 0;
        if (!engine_) {
            Record("connectionPoint.Advise");
            return E_UNEXPECTED;
        }
        const HRESULT hr = engine_->Advise(sink, cookie);
        Record(Printf("connectionPoint.Advise -> 0x%08lX cookie %lu", static_cast<unsigned long>(hr),
                      cookie ? static_cast<unsigned long>(*cookie) : 0ul));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        Record(Printf("connectionPoint.Unadvise(%lu)", static_cast<unsigned long>(cookie)));
        if (!engine_) return CONNECT_E_NOCONNECTION;
        return engine_->Unadvise(cookie);
    }
    SV_STANDIN_NOT_IMPLEMENTED("connectionPoint", EnumConnections, IEnumConnections**)

    // Breaks the cycle with the core when the player goes.
    void DropContainer() { container_.reset(); }

private:
    ComPtr<IConnectionPointContainer> container_;
};

// ---------------------------------------------------------------------------------------------
class StandinCore final : public IWMPCore, public IConnectionPointContainer, public StandinObject {
public:
    explicit StandinCore(PlayerEngine* engine) : StandinObject(engine) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        static const InterfaceMapEntry kInterfaces[] = {
            SV_INTERFACE_ENTRY_IID(kIidWmpCore, StandinCore, IWMPCore),
            SV_INTERFACE_ENTRY_IID(IID_IDispatch, StandinCore, IWMPCore),
            SV_INTERFACE_ENTRY_IID(IID_IConnectionPointContainer, StandinCore, IConnectionPointContainer),
            SV_INTERFACE_MAP_END,
        };
        const HRESULT hr = QueryInterfaceFromTable(this, kInterfaces, iid, out);
        if (hr == E_NOINTERFACE) Record("core.QueryInterface(" + IidText(iid) + ") (not offered)");
        return hr;
    }
    SV_STANDIN_UNKNOWN
    SV_STANDIN_NO_DISPATCH

    HRESULT STDMETHODCALLTYPE get_versionInfo(BSTR* version) override {
        Record("core.get_versionInfo");
        if (!version) return E_POINTER;
        *version = nullptr;
        if (!engine_) return E_UNEXPECTED;
        if (FAILED(engine_->versionInfoFailure_)) return engine_->versionInfoFailure_;
        *version = AllocText(engine_->versionInfo_);
        return *version ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_controls(IWMPControls** controls) override {
        Record("core.get_controls");
        if (!controls) return E_POINTER;
        *controls = nullptr;
        if (!engine_) return E_UNEXPECTED;
        engine_->controls_->AddRef();
        *controls = engine_->controls_.get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_currentMedia(IWMPMedia** media) override {
        Record("core.get_currentMedia");
        if (!media) return E_POINTER;
        *media = nullptr;
        if (!engine_) return E_UNEXPECTED;
        switch (engine_->currentMediaAnswer_) {
            case CurrentMediaAnswer::Failure:
                return E_FAIL;
            case CurrentMediaAnswer::NoItem:
                return S_OK;
            case CurrentMediaAnswer::CurrentItem:
                break;
        }
        const int index = engine_->current_;
        if (index >= 0 && static_cast<size_t>(index) < engine_->media_.size()) {
            *media = ComPtr<StandinMedia>::From(engine_->media_[index].get()).detach();
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
        if (points) *points = nullptr;
        return NotImplemented("core.EnumConnectionPoints");
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        Record("core.FindConnectionPoint(" + (iid == kIidWmpEvents ? std::string("IWMPEvents") : IidText(iid)) + ")");
        if (!point) return E_POINTER;
        *point = nullptr;
        if (!engine_) return E_UNEXPECTED;
        if (iid != kIidWmpEvents || !engine_->connectionPointAvailable_) return CONNECT_E_NOCONNECTION;
        engine_->connectionPoint_->AddRef();
        *point = engine_->connectionPoint_.get();
        return S_OK;
    }

    SV_STANDIN_NOT_IMPLEMENTED("core", close)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_URL, BSTR*)
    SV_STANDIN_NOT_IMPLEMENTED("core", put_URL, BSTR)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_openState, WMPOpenState*)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_playState, WMPPlayState*)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_settings, IWMPSettings**)
    SV_STANDIN_NOT_IMPLEMENTED("core", put_currentMedia, IWMPMedia*)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_mediaCollection, IWMPMediaCollection**)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_playlistCollection, IWMPPlaylistCollection**)
    SV_STANDIN_NOT_IMPLEMENTED("core", launchURL, BSTR)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_network, IWMPNetwork**)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_currentPlaylist, IWMPPlaylist**)
    SV_STANDIN_NOT_IMPLEMENTED("core", put_currentPlaylist, IWMPPlaylist*)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_cdromCollection, IWMPCdromCollection**)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_closedCaption, IWMPClosedCaption**)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_isOnline, VARIANT_BOOL*)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_Error, IWMPError**)
    SV_STANDIN_NOT_IMPLEMENTED("core", get_status, BSTR*)
};

// ---------------------------------------------------------------------------------------------
PlayerEngine::PlayerEngine(std::function<double()> clock) : clock_(clock ? std::move(clock) : QpcSeconds) {
    core_ = ComPtr<StandinCore>::Attach(new StandinCore(this));
    controls_ = ComPtr<StandinControls>::Attach(new StandinControls(this));
    connectionPoint_ = ComPtr<StandinConnectionPoint>::Attach(
        new StandinConnectionPoint(this, static_cast<IConnectionPointContainer*>(core_.get())));
}

PlayerEngine::~PlayerEngine() {
    pending_.clear();
    sinks_.clear();
    core_->Detach();
    controls_->Detach();
    connectionPoint_->Detach();
    connectionPoint_->DropContainer();
    for (const ComPtr<StandinMedia>& media : allMedia_) media->Detach();
}

IWMPCore* PlayerEngine::Core() const { return core_.get(); }

const Track* PlayerEngine::CurrentTrack() const {
    if (current_ < 0 || static_cast<size_t>(current_) >= tracks_.size()) return nullptr;
    return &tracks_[current_];
}

void PlayerEngine::SetPlaylist(std::vector<Track> tracks) {
    tracks_ = std::move(tracks);
    media_.clear();
    for (const Track& track : tracks_) {
        media_.push_back(ComPtr<StandinMedia>::Attach(new StandinMedia(this, track)));
        allMedia_.push_back(media_.back().Copy());
    }
    current_ = -1;
    playState_ = wmppsUndefined;
    openState_ = wmposUndefined;
    basePosition_ = 0.0;
    Record(LogKind::Player, Printf("player.playlist(%lu tracks)", static_cast<unsigned long>(tracks_.size())));
}

bool PlayerEngine::Open(int index, bool play) {
    Record(LogKind::Player, Printf("player.open(%d%s)", index, play ? ", play" : ""));
    return DoOpen(index, play);
}
void PlayerEngine::Play() {
    Record(LogKind::Player, "player.play");
    DoPlay();
}
void PlayerEngine::Pause() {
    Record(LogKind::Player, "player.pause");
    DoPause();
}
void PlayerEngine::Stop() {
    Record(LogKind::Player, "player.stop");
    DoStop();
}
void PlayerEngine::Seek(double seconds) {
    Record(LogKind::Player, Printf("player.seek(%g)", seconds));
    DoSeek(seconds);
}
void PlayerEngine::Next() {
    Record(LogKind::Player, "player.next");
    if (current_ + 1 < static_cast<int>(tracks_.size())) {
        DoOpen(current_ + 1, true);
    } else {
        DoStop();
    }
}
void PlayerEngine::EndCurrentTrack() {
    Record(LogKind::Player, "player.end");
    DoEndCurrentTrack();
}

void PlayerEngine::Poll() {
    const Track* track = CurrentTrack();
    if (track && playState_ == wmppsPlaying && Position() >= track->lengthSeconds) DoEndCurrentTrack();
}

double PlayerEngine::Position() const {
    double position = basePosition_;
    if (playState_ == wmppsPlaying) position += clock_() - startedAt_;
    if (const Track* track = CurrentTrack()) position = std::min(position, track->lengthSeconds);
    return std::max(position, 0.0);
}

bool PlayerEngine::DoOpen(int index, bool play) {
    if (index < 0 || static_cast<size_t>(index) >= tracks_.size()) return false;
    current_ = index;
    basePosition_ = 0.0;
    // The order a real player raises them in when it changes items.
    RaisePlayState(wmppsTransitioning);
    RaiseOpenState(wmposMediaChanging);
    Raise(Event{Event::Type::CurrentItem, 0, 0.0, 0.0, ComPtr<IDispatch>::From(media_[index].get())});
    RaiseOpenState(wmposMediaLocating);
    RaiseOpenState(wmposMediaConnecting);
    RaiseOpenState(wmposMediaLoading);
    RaiseOpenState(wmposMediaOpening);
    RaiseOpenState(wmposMediaOpen);
    if (play) {
        startedAt_ = clock_();
        RaisePlayState(wmppsPlaying);
    } else {
        RaisePlayState(wmppsReady);
    }
    return true;
}

void PlayerEngine::DoPlay() {
    if (!CurrentTrack()) {
        DoOpen(0, true);
        return;
    }
    switch (playState_) {
        case wmppsPlaying:
            return;
        case wmppsPaused:
            break;
        default:
            // From stopped, ready or ended the player passes through its transition state first.
            RaisePlayState(wmppsTransitioning);
            break;
    }
    startedAt_ = clock_();
    RaisePlayState(wmppsPlaying);
}

void PlayerEngine::DoPause() {
    if (playState_ != wmppsPlaying) return;
    basePosition_ = Position();
    RaisePlayState(wmppsPaused);
}

void PlayerEngine::DoStop() {
    if (!CurrentTrack() || playState_ == wmppsStopped) return;
    basePosition_ = 0.0;
    RaisePlayState(wmppsStopped);
}

void PlayerEngine::DoSeek(double seconds) {
    const Track* track = CurrentTrack();
    if (!track) return;
    const double oldPosition = Position();
    const double newPosition = std::clamp(seconds, 0.0, track->lengthSeconds);
    basePosition_ = newPosition;
    startedAt_ = clock_();
    Raise(Event{Event::Type::Position, 0, oldPosition, newPosition, nullptr});
}

void PlayerEngine::DoEndCurrentTrack() {
    const Track* track = CurrentTrack();
    if (!track) return;
    basePosition_ = track->lengthSeconds;
    RaisePlayState(wmppsMediaEnded);
    if (current_ + 1 < static_cast<int>(tracks_.size())) {
        DoOpen(current_ + 1, true);
    } else {
        // The end of the playlist: the player stops and rewinds.
        basePosition_ = 0.0;
        RaisePlayState(wmppsStopped);
    }
}

void PlayerEngine::RaiseOpenState(WMPOpenState state) {
    openState_ = state;
    Raise(Event{Event::Type::OpenState, static_cast<long>(state), 0.0, 0.0, nullptr});
}

void PlayerEngine::RaisePlayState(WMPPlayState state) {
    playState_ = state;
    Raise(Event{Event::Type::PlayState, static_cast<long>(state), 0.0, 0.0, nullptr});
}

void PlayerEngine::Raise(Event event) {
    pending_.push_back(std::move(event));
    if (deliveryRequest_) deliveryRequest_();
}

void PlayerEngine::DeliverPendingEvents() {
    // A sink that runs a modal loop inside an event must not receive the next event before it
    // has returned from this one.
    if (delivering_) return;
    delivering_ = true;
    while (!pending_.empty()) {
        const Event event = std::move(pending_.front());
        pending_.pop_front();
        Record(LogKind::Event, DescribeEvent(event));
        // A sink may unadvise itself or others while handling the event: take a copy, and skip
        // sinks that are no longer advised when their turn comes.
        std::vector<Sink> sinks;
        for (const Sink& sink : sinks_) sinks.push_back(Sink{sink.cookie, sink.events.Copy()});
        for (const Sink& sink : sinks) {
            const bool stillAdvised =
                std::any_of(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.cookie == sink.cookie; });
            if (stillAdvised) SendEvent(event, sink.events.get());
        }
    }
    delivering_ = false;
}

void PlayerEngine::SendEvent(const Event& event, IWMPEvents* sink) {
    switch (event.type) {
        case Event::Type::OpenState:
            sink->OpenStateChange(event.state);
            break;
        case Event::Type::PlayState:
            sink->PlayStateChange(event.state);
            break;
        case Event::Type::Position:
            sink->PositionChange(event.oldPosition, event.newPosition);
            break;
        case Event::Type::CurrentItem:
            sink->CurrentItemChange(event.item.get());
            break;
    }
}

std::string PlayerEngine::DescribeEvent(const Event& event) {
    switch (event.type) {
        case Event::Type::OpenState:
            return Printf("event.OpenStateChange(%ld)", event.state);
        case Event::Type::PlayState:
            return Printf("event.PlayStateChange(%ld)", event.state);
        case Event::Type::Position:
            return Printf("event.PositionChange(%g,%g)", event.oldPosition, event.newPosition);
        case Event::Type::CurrentItem:
            return "event.CurrentItemChange";
    }
    return "event.?";
}

HRESULT PlayerEngine::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    if (FAILED(adviseFailure_)) return adviseFailure_;
    ComPtr<IWMPEvents> events;
    if (FAILED(sink->QueryInterface(kIidWmpEvents, events.put_void())) || !events) return CONNECT_E_CANNOTCONNECT;
    if (adviseGivesZeroCookie_) return S_OK;
    *cookie = nextCookie_++;
    sinks_.push_back(Sink{*cookie, std::move(events)});
    return S_OK;
}

HRESULT PlayerEngine::Unadvise(DWORD cookie) {
    const auto found =
        std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& sink) { return sink.cookie == cookie; });
    if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
    // Released after leaving the list: the release may re-enter the player.
    ComPtr<IWMPEvents> released = std::move(found->events);
    sinks_.erase(found);
    return S_OK;
}

void PlayerEngine::DropAllSinks() {
    if (!sinks_.empty())
        Record(LogKind::Player,
               Printf("player.dropSinks(%lu still advised)", static_cast<unsigned long>(sinks_.size())));
    std::vector<Sink> dropped;
    dropped.swap(sinks_);
}

}  // namespace sv::standin
