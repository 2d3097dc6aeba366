// How long a thread's message loop keeps messages waiting: the longest gap between two handled
// messages while the loop has nothing else to do but them. A thread of the meter's own posts the
// next tick as soon as the last one was handled (after 1 ms), so the gaps stay small while the loop
// is free and grow by exactly the time it is held, whichever loop runs (a modal dialog's, a
// menu's, the caller's own).
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "bench_clock.h"

namespace tools {

class LoopGapMeter {
public:
    // On the thread whose loop is measured.
    LoopGapMeter() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &LoopGapMeter::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SonavireLoopGapMeter";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                if (!pending_.exchange(true)) PostMessageW(window_, kTick, 0, 0);
                Sleep(1);
            }
        });
    }
    ~LoopGapMeter() {
        stop_ = true;
        thread_.join();
        DestroyWindow(window_);
    }
    LoopGapMeter(const LoopGapMeter&) = delete;
    LoopGapMeter& operator=(const LoopGapMeter&) = delete;

    // Starts a new measurement from now.
    void Restart() {
        longestMs_ = 0;
        clock_.Restart();
    }
    double LongestMs() const { return std::max(longestMs_, clock_.ElapsedMs()); }

private:
    static constexpr UINT kTick = WM_APP + 31;
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != kTick) return DefWindowProcW(hwnd, message, wParam, lParam);
        auto* meter = reinterpret_cast<LoopGapMeter*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (meter) {
            meter->longestMs_ = std::max(meter->longestMs_, meter->clock_.ElapsedMs());
            meter->clock_.Restart();
            meter->pending_ = false;
        }
        return 0;
    }

    HWND window_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> pending_{false};
    BenchClock clock_;
    double longestMs_ = 0;
};

}  // namespace tools
