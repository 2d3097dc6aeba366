// What the machine itself does to a thread of this process: a thread that only sleeps 1 ms at a
// time notes every sleep that took much longer. Under Wine such a sleep never reaches Wine's server
// (a non-alertable sleep is the kernel's own), so a long one is time in which the machine did not
// run a ready thread of this process: a burst of the host's, or the CPU given to someone else.
// Set against a loop gap it tells the machine's part of that gap.
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace tools {

class IdleProbe {
public:
    IdleProbe() {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        frequency_ = static_cast<double>(frequency.QuadPart);
        thread_ = std::thread([this] {
            const LONGLONG noted = static_cast<LONGLONG>(frequency_ * kNotedMs / 1000);
            while (!stop_.load()) {
                const LONGLONG from = Now();
                Sleep(1);
                const LONGLONG to = Now();
                if (to - from < noted) continue;
                std::lock_guard<std::mutex> hold(lock_);
                if (sleeps_.size() < kKept) sleeps_.push_back({from, to});
            }
        });
    }
    ~IdleProbe() {
        stop_ = true;
        thread_.join();
    }
    IdleProbe(const IdleProbe&) = delete;
    IdleProbe& operator=(const IdleProbe&) = delete;

    // The longest of its sleeps that overlapped from..to (performance-counter values), in ms; 0
    // when none took kNotedMs or more. Forgets everything before to.
    double LongestSleepWithin(LONGLONG from, LONGLONG to) {
        std::lock_guard<std::mutex> hold(lock_);
        LONGLONG longest = 0;
        for (const Span& sleep : sleeps_)
            if (sleep.to > from && sleep.from < to) longest = std::max(longest, sleep.to - sleep.from);
        sleeps_.clear();
        return 1000.0 * static_cast<double>(longest) / frequency_;
    }

    static constexpr double kNotedMs = 4;

private:
    struct Span {
        LONGLONG from, to;
    };
    static constexpr size_t kKept = 100000;
    static LONGLONG Now() {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return now.QuadPart;
    }

    double frequency_ = 1;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<Span> sleeps_;
    std::thread thread_;
};

}  // namespace tools
