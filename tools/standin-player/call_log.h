// The stand-in player's record: the calls a plug-in makes on the player, the events the player
// raises, the calls the player makes on the plug-in and the player's own actions, in order, each
// with the time since the record started.
#pragma once
#include <windows.h>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sv::standin {

enum class LogKind {
    Call,    // a plug-in called the player: "controls.play"
    Event,   // the player raised an event: "event.PlayStateChange(3)"
    Host,    // the player called the plug-in: "plugin.SetCore(core) -> 0x00000000"
    Player,  // the player's own action: "player.pause"
};

struct LogEntry {
    double seconds;
    LogKind kind;
    std::string text;  // UTF-8
};

class CallLog {
public:
    CallLog();

    void Add(LogKind kind, std::string text);
    std::vector<LogEntry> Entries() const;
    // The texts of one kind, in order.
    std::vector<std::string> Texts(LogKind kind) const;
    void Clear();
    // Called with every new entry (on the thread that added it), e.g. to write a log file as it grows.
    void SetListener(std::function<void(const LogEntry&)> listener);

    static const char* KindName(LogKind kind);
    // "  12.345 call    controls.play"
    static std::string Format(const LogEntry& entry);

private:
    double Now() const;

    mutable std::mutex mutex_;
    LARGE_INTEGER start_{};
    LARGE_INTEGER frequency_{};
    DWORD ownerThread_;
    std::vector<LogEntry> entries_;
    std::function<void(const LogEntry&)> listener_;
};

// printf-style formatting into a std::string, for log texts.
std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// UTF-8 of a UTF-16 text (null reads as empty).
std::string Narrow(const wchar_t* text);

}  // namespace sv::standin
