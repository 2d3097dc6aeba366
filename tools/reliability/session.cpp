#include "session.h"

#include <algorithm>
#include <cstdio>

#include "base/win_handles.h"

namespace reliability {
namespace {

constexpr wchar_t kModuleName[] = L"Sonavire.dll";

LONGLONG Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

LONGLONG Frequency() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return frequency;
}

bool IsOfClass(HWND hwnd, const wchar_t* className) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return lstrcmpW(name, className) == 0;
}

HWND FindDescendant(HWND parent, const wchar_t* className) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsOfClass(child, className)) return child;
        if (const HWND deeper = FindDescendant(child, className)) return deeper;
    }
    return nullptr;
}

std::wstring WindowText(HWND hwnd) {
    if (!hwnd) return std::wstring();
    const LRESULT length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    const LRESULT copied = SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::clamp<LRESULT>(copied, 0, static_cast<LRESULT>(text.size()))));
    return text;
}

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

}  // namespace

double Now() { return static_cast<double>(Ticks()) / static_cast<double>(Frequency()); }

bool Pump(const std::function<bool()>& done, DWORD timeoutMs) {
    const double deadline = Now() + timeoutMs / 1000.0;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (done()) return true;
        }
        if (done()) return true;
        if (Now() >= deadline) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void Report(const char* name, const std::string& value) {
    std::printf("figure\t%s\t%s\n", name, value.c_str());
    std::fflush(stdout);
}

void Report(const char* name, double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    Report(name, std::string(text));
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring PluginText(UINT id) {
    wchar_t text[512] = {};
    if (const HMODULE module = GetModuleHandleW(kModuleName)) LoadStringW(module, id, text, 512);
    return text;
}

// ---------------------------------------------------------------------------------------------
Session::Session() : engine_([this] { return clock_; }) {}

Session::~Session() {
    if (player_) player_->UnloadPlugin();
}

bool Session::Create() {
    player_ = std::make_unique<sv::standin::PlayerWindow>(GetModuleHandleW(nullptr), engine_);
    RECT frame{20, 20, 920, 660};
    return player_->Create(&frame, true);
}

bool Session::WaitUntilModuleQuiet(DWORD timeoutMs) {
    return Pump(
        [] {
            const HMODULE module = GetModuleHandleW(kModuleName);
            if (!module) return true;
            const auto canUnloadNow = reinterpret_cast<CanUnloadNow>(GetProcAddress(module, "DllCanUnloadNow"));
            return canUnloadNow && canUnloadNow() == S_OK;
        },
        timeoutMs);
}

bool Session::WaitUntilModuleUnloaded(DWORD timeoutMs) {
    return Pump(
        [] {
            CoFreeUnusedLibraries();
            return GetModuleHandleW(kModuleName) == nullptr;
        },
        timeoutMs);
}

void Session::Open(int index) {
    engine_.Open(index, true);
    engine_.DeliverPendingEvents();
}

void Session::EndTrack() {
    engine_.EndCurrentTrack();
    engine_.DeliverPendingEvents();
}

void Session::Seek(double seconds) {
    engine_.Seek(seconds);
    engine_.DeliverPendingEvents();
}

HWND Session::MainWindow() const { return Find(L"SVPluginWindow"); }

HWND Session::Find(const wchar_t* className) const {
    return player_ ? FindDescendant(player_->Hwnd(), className) : nullptr;
}

std::wstring Session::StatusText() const { return WindowText(Find(L"SVPluginStatus")); }

HWND Session::LyricsPane() const {
    const HWND main = MainWindow();
    HWND largest = nullptr;
    long largestArea = -1;
    for (HWND child = main ? GetWindow(main, GW_CHILD) : nullptr; child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsOfClass(child, L"SVPluginLyrics")) continue;
        RECT client{};
        GetClientRect(child, &client);
        const long area = client.right * client.bottom;
        if (area > largestArea) {
            largest = child;
            largestArea = area;
        }
    }
    return largest;
}

std::wstring Session::BrightLine() const { return WindowText(LyricsPane()); }

void Session::ClickLyrics() {
    const HWND pane = LyricsPane();
    if (!pane) return;
    RECT client{};
    GetClientRect(pane, &client);
    const LPARAM at = MAKELPARAM(client.right / 2, client.bottom / 2);
    SendMessageW(pane, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(pane, WM_LBUTTONUP, 0, at);
}

// ---------------------------------------------------------------------------------------------
namespace {
constexpr UINT kPing = WM_APP + 7;
constexpr wchar_t kStallClass[] = L"SonavireReliabilityStallMeter";
}  // namespace

StallMeter::StallMeter() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &StallMeter::Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kStallClass;
    RegisterClassW(&windowClass);
    window_ =
        CreateWindowExW(0, kStallClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    const HWND target = window_;
    thread_ = std::thread([this, target] {
        while (!stop_.load()) {
            PostMessageW(target, kPing, 0, static_cast<LPARAM>(static_cast<uint32_t>(Ticks())));
            Sleep(2);
        }
    });
}

StallMeter::~StallMeter() {
    stop_ = true;
    thread_.join();
    DestroyWindow(window_);
}

LRESULT CALLBACK StallMeter::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPing) {
        auto* meter = reinterpret_cast<StallMeter*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (meter) {
            const uint32_t waited = static_cast<uint32_t>(Ticks()) - static_cast<uint32_t>(lParam);
            meter->longestMs_ = std::max(meter->longestMs_, 1000.0 * waited / static_cast<double>(Frequency()));
            ++meter->pings_;
        }
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace reliability
