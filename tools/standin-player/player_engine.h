// The stand-in player's core: what a UI plug-in calls on the player (IWMPCore with its IWMPEvents
// connection point, IWMPControls, IWMPMedia) and the player's own playback state, which raises the
// events a real player raises. No audio: the position runs on a clock while "playing".
//
// Everything belongs to one user-interface thread. Events are queued and delivered from that
// thread's message loop (the owner asks for delivery through SetDeliveryRequest and then calls
// DeliverPendingEvents), so an event never re-enters a plug-in in the middle of its own call.
#pragma once
#include <windows.h>
#include <wmp.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "call_log.h"
#include "base/com_ptr.h"
#include "playlist.h"

namespace sv::standin {

class StandinObject;
class StandinCore;
class StandinControls;
class StandinMedia;
class StandinConnectionPoint;

// What get_currentMedia answers.
enum class CurrentMediaAnswer {
    CurrentItem,  // the current item, or S_OK with no item when nothing is open
    NoItem,       // S_OK with no item
    Failure,      // E_FAIL with no item
};

// What getItemInfo answers for an attribute the item does not have.
enum class MissingAttributeAnswer {
    EmptyText,  // S_OK with an empty text
    Failure,    // E_INVALIDARG with no text
};

class PlayerEngine {
public:
    // The clock gives seconds; by default QueryPerformanceCounter.
    explicit PlayerEngine(std::function<double()> clock = nullptr);
    ~PlayerEngine();
    PlayerEngine(const PlayerEngine&) = delete;
    PlayerEngine& operator=(const PlayerEngine&) = delete;

    CallLog& Log() { return log_; }
    IWMPCore* Core() const;  // no reference added

    // Playlist and the player's own actions (recorded as "player.*").
    void SetPlaylist(std::vector<Track> tracks);
    const std::vector<Track>& Playlist() const { return tracks_; }
    int CurrentIndex() const { return current_; }
    const Track* CurrentTrack() const;
    bool Open(int index, bool play);  // opens an item: transitions, OpenStateChange 13, then playing
    void Play();
    void Pause();
    void Stop();
    void Seek(double seconds);
    void Next();
    void EndCurrentTrack();  // as if the item had played to its end
    // Ends the current item when the clock has reached its length; call it regularly.
    void Poll();

    double Position() const;  // seconds
    WMPPlayState PlayState() const { return playState_; }
    WMPOpenState OpenState() const { return openState_; }

    // Answers the plug-in gets.
    void SetVersionInfo(const std::wstring& text) { versionInfo_ = text; }
    void SetVersionInfoFailure(HRESULT failure) { versionInfoFailure_ = failure; }  // S_OK: none
    void SetCurrentMediaAnswer(CurrentMediaAnswer answer) { currentMediaAnswer_ = answer; }
    void SetMissingAttributeAnswer(MissingAttributeAnswer answer) { missingAttributeAnswer_ = answer; }
    void SetConnectionPointAvailable(bool available) { connectionPointAvailable_ = available; }
    void SetAdviseFailure(HRESULT failure) { adviseFailure_ = failure; }  // S_OK: none
    void SetAdviseGivesZeroCookie(bool zero) { adviseGivesZeroCookie_ = zero; }

    // Event delivery.
    void SetDeliveryRequest(std::function<void()> request) { deliveryRequest_ = std::move(request); }
    void DeliverPendingEvents();
    bool HasPendingEvents() const { return !pending_.empty(); }
    size_t AdvisedSinkCount() const { return sinks_.size(); }
    // The player is closing: sinks still advised are released (and recorded).
    void DropAllSinks();

private:
    friend class StandinObject;
    friend class StandinCore;
    friend class StandinControls;
    friend class StandinMedia;
    friend class StandinConnectionPoint;

    struct Event {
        enum class Type { OpenState, PlayState, Position, CurrentItem } type;
        long state;
        double oldPosition;
        double newPosition;
        ComPtr<IDispatch> item;
    };
    struct Sink {
        DWORD cookie;
        ComPtr<IWMPEvents> events;
    };

    void Record(LogKind kind, std::string text) { log_.Add(kind, std::move(text)); }
    void Raise(Event event);
    void RaiseOpenState(WMPOpenState state);
    void RaisePlayState(WMPPlayState state);
    void SendEvent(const Event& event, IWMPEvents* sink);
    static std::string DescribeEvent(const Event& event);

    // The actions behind both the player's own commands and the plug-in's control calls.
    void DoPlay();
    void DoPause();
    void DoStop();
    void DoSeek(double seconds);
    bool DoOpen(int index, bool play);
    void DoEndCurrentTrack();

    HRESULT Advise(IUnknown* sink, DWORD* cookie);
    HRESULT Unadvise(DWORD cookie);

    std::function<double()> clock_;
    CallLog log_;

    std::vector<Track> tracks_;
    std::vector<ComPtr<StandinMedia>> media_;     // one per track of the current playlist
    std::vector<ComPtr<StandinMedia>> allMedia_;  // every item handed out, to detach at the end
    int current_ = -1;
    WMPPlayState playState_ = wmppsUndefined;
    WMPOpenState openState_ = wmposUndefined;
    double basePosition_ = 0.0;  // position when the clock was last (re)started or stopped
    double startedAt_ = 0.0;     // clock time of the last start while playing

    std::wstring versionInfo_ = L"12.0.7601.24150";
    HRESULT versionInfoFailure_ = S_OK;
    CurrentMediaAnswer currentMediaAnswer_ = CurrentMediaAnswer::CurrentItem;
    MissingAttributeAnswer missingAttributeAnswer_ = MissingAttributeAnswer::EmptyText;
    bool connectionPointAvailable_ = true;
    HRESULT adviseFailure_ = S_OK;
    bool adviseGivesZeroCookie_ = false;

    ComPtr<StandinCore> core_;
    ComPtr<StandinControls> controls_;
    ComPtr<StandinConnectionPoint> connectionPoint_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;

    std::deque<Event> pending_;
    bool delivering_ = false;
    std::function<void()> deliveryRequest_;
};

}  // namespace sv::standin
