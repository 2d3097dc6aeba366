// How long a thread's message loop keeps messages waiting: a thread of the meter's own posts a
// tick every millisecond or so, stamped with the time it was posted, and the loop's thread notes
// the longest any tick waited before it was handled. The figure is the loop's longest gap as an
// input message would see it, whichever loop runs (a modal dialog's, a menu's, the caller's own),
// and is not lengthened by the ticking thread's own scheduling.
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

namespace tools {

class LoopGapMeter {
public:
    // On the thread whose loop is measured.
    LoopGapMeter() {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        frequency_ = static_cast<double>(frequency.QuadPart);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &LoopGapMeter::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SonavireLoopGapMeter";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        const HWND target = window_;
        thread_ = std::thread([this, target] {
            while (!stop_.load()) {
                PostMessageW(target, kTick, 0, static_cast<LPARAM>(Now()));
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

    // Starts a new measurement from now. Ticks still queued from before count only their wait
    // since now: the bench's own blocking calls just before must not show as the scenario's gap.
    void Restart() {
        longestMs_ = 0;
        longestFrom_ = longestTo_ = 0;
        restartedAt_ = Now();
    }
    struct Gap {
        double ms = 0;
        LONGLONG from = 0;  // when it began and ended, as full performance-counter values
        LONGLONG to = 0;
    };
    Gap Longest() const { return {longestMs_, longestFrom_, longestTo_}; }

private:
    static constexpr UINT kTick = WM_APP + 31;
    // The performance counter's low 32 bits: enough for waits of seconds, and it fits an LPARAM.
    static uint32_t Now() {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<uint32_t>(now.QuadPart);
    }
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != kTick) return DefWindowProcW(hwnd, message, wParam, lParam);
        auto* meter = reinterpret_cast<LoopGapMeter*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (meter) {
            LARGE_INTEGER full;
            QueryPerformanceCounter(&full);
            const uint32_t now = static_cast<uint32_t>(full.QuadPart);
            const uint32_t waited = std::min(now - static_cast<uint32_t>(lParam), now - meter->restartedAt_);
            const double waitedMs = 1000.0 * waited / meter->frequency_;
            if (waitedMs > meter->longestMs_) {
                meter->longestMs_ = waitedMs;
                meter->longestFrom_ = full.QuadPart - waited;
                meter->longestTo_ = full.QuadPart;
            }
        }
        return 0;
    }

    HWND window_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    double frequency_ = 1;
    double longestMs_ = 0;
    LONGLONG longestFrom_ = 0;
    LONGLONG longestTo_ = 0;
    uint32_t restartedAt_ = Now();
};

}  // namespace tools
