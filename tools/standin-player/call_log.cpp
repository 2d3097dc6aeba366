#include "call_log.h"

#include <cstdarg>
#include <cstdio>

#include "base/utf.h"

namespace sv::standin {

CallLog::CallLog() : ownerThread_(GetCurrentThreadId()) {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
}

double CallLog::Now() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
}

void CallLog::Add(LogKind kind, std::string text) {
    // The player's objects belong to its user-interface thread; a call from anywhere else is a
    // fault of the caller, and the record says so.
    if (GetCurrentThreadId() != ownerThread_) text = "[other thread] " + text;
    std::function<void(const LogEntry&)> listener;
    LogEntry entry{0.0, kind, std::move(text)};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entry.seconds = Now();
        entries_.push_back(entry);
        listener = listener_;
    }
    if (listener) listener(entry);
}

std::vector<LogEntry> CallLog::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

std::vector<std::string> CallLog::Texts(LogKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> texts;
    for (const LogEntry& entry : entries_) {
        if (entry.kind == kind) texts.push_back(entry.text);
    }
    return texts;
}

void CallLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LogEntry>().swap(entries_);  // gives the memory back too
}

void CallLog::SetListener(std::function<void(const LogEntry&)> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

const char* CallLog::KindName(LogKind kind) {
    switch (kind) {
        case LogKind::Call:
            return "call";
        case LogKind::Event:
            return "event";
        case LogKind::Host:
            return "host";
        case LogKind::Player:
            return "player";
    }
    return "?";
}

std::string CallLog::Format(const LogEntry& entry) {
    return Printf("%9.3f %-6s %s", entry.seconds, KindName(entry.kind), entry.text.c_str());
}

std::string Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, args);
        text.resize(static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

std::string Narrow(const wchar_t* text) {
    if (!text) return {};
    return Utf8FromUtf16(AsU16(text));
}

}  // namespace sv::standin
