#include "player_window.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/win_handles.h"
#include "settings/plugin_identity.h"
#include "window/dpi.h"

namespace sv::standin {
namespace {

constexpr wchar_t kSettingsAreaClass[] = L"StandinSettingsArea";
constexpr wchar_t kHostWindowClass[] = L"StandinPluginHost";
constexpr UINT kDeliverEventsMessage = WM_APP + 1;
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMilliseconds = 50;

std::string HrText(HRESULT hr) { return Printf("0x%08lX", static_cast<unsigned long>(hr)); }

std::wstring Clock(double seconds) {
    const long whole = static_cast<long>(std::floor(seconds));
    wchar_t text[32];
    wsprintfW(text, L"%ld:%02ld", whole / 60, whole % 60);
    return text;
}

const wchar_t* PlayStateName(WMPPlayState state) {
    switch (state) {
        case wmppsStopped:
            return L"stopped";
        case wmppsPaused:
            return L"paused";
        case wmppsPlaying:
            return L"playing";
        case wmppsMediaEnded:
            return L"ended";
        case wmppsTransitioning:
            return L"transitioning";
        case wmppsReady:
            return L"ready";
        default:
            return L"idle";
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
HRESULT PluginHost::Load(REFCLSID classId, HWND hostWindow) {
    Unload();
    wchar_t classText[40] = {};
    StringFromGUID2(classId, classText, 40);
    ComPtr<IWMPPluginUI> plugin;
    const HRESULT hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, kIidWmpPluginUi, plugin.put_void());
    Record("plugin.CoCreateInstance(" + Narrow(classText) + ") -> " + HrText(hr));
    if (FAILED(hr)) return hr;
    if (!plugin) return E_NOINTERFACE;
    return Start(plugin.get(), hostWindow);
}

HRESULT PluginHost::Start(IWMPPluginUI* plugin, HWND hostWindow) {
    Unload();
    if (!plugin) return E_POINTER;
    plugin_ = ComPtr<IWMPPluginUI>::From(plugin);
    // The player goes on when the plug-in cannot subscribe to its events; only Create decides.
    const HRESULT coreResult = plugin_->SetCore(engine_.Core());
    Record("plugin.SetCore(core) -> " + HrText(coreResult));
    HWND window = nullptr;
    const HRESULT createResult = plugin_->Create(hostWindow, &window);
    Record(Printf("plugin.Create(host) -> %s window %s", HrText(createResult).c_str(),
                  window && IsWindow(window) ? "made" : "none"));
    if (FAILED(createResult)) {
        const HRESULT detach = plugin_->SetCore(nullptr);
        Record("plugin.SetCore(null) -> " + HrText(detach));
        plugin_.reset();
        Record("plugin.Release");
        return createResult;
    }
    created_ = true;
    pluginWindow_ = window;
    return S_OK;
}

void PluginHost::Unload() {
    if (!plugin_) return;
    if (created_) {
        const HRESULT hr = plugin_->Destroy();
        Record("plugin.Destroy -> " + HrText(hr));
    }
    const HRESULT hr = plugin_->SetCore(nullptr);
    Record("plugin.SetCore(null) -> " + HrText(hr));
    created_ = false;
    pluginWindow_ = nullptr;
    plugin_.reset();
    Record("plugin.Release");
}

// ---------------------------------------------------------------------------------------------
bool AreaWindow::ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM lParam, LRESULT& result, MessagePass pass) {
    if (pass != MessagePass::Ordinary || message != WM_SIZE) return false;
    if (onSize) onSize(LOWORD(lParam), HIWORD(lParam));
    result = 0;
    return true;
}

// ---------------------------------------------------------------------------------------------
PlayerWindow::PlayerWindow(HINSTANCE instance, PlayerEngine& engine)
    : instance_(instance), engine_(engine), pluginHost_(engine) {
    pluginAddRemoveMessage_ = RegisterWindowMessageW(kPluginAddRemoveMessage);
    pluginClass_ = CLSID_Sonavire;
    hasPluginClass_ = true;
}

PlayerWindow::~PlayerWindow() {
    engine_.SetDeliveryRequest(nullptr);
    UnloadPlugin();
    Destroy();
}

bool PlayerWindow::Create(const RECT* rect, bool show) {
    WindowClassInfo player{};
    player.name = kPlayerWindowClass;
    player.style = CS_HREDRAW | CS_VREDRAW;
    player.background = GetSysColorBrush(COLOR_BTNFACE);
    player.cursor = LoadCursorW(nullptr, IDC_ARROW);
    player.icon = LoadIconW(nullptr, IDI_APPLICATION);
    WindowClassInfo area{};
    area.name = kSettingsAreaClass;
    area.background = GetSysColorBrush(COLOR_BTNSHADOW);
    area.cursor = player.cursor;
    WindowClassInfo host{};
    host.name = kHostWindowClass;
    host.background = GetSysColorBrush(COLOR_APPWORKSPACE);
    host.cursor = player.cursor;
    if (!RegisterWindowClass(instance_, player) || !RegisterWindowClass(instance_, area) ||
        !RegisterWindowClass(instance_, host)) {
        return false;
    }

    RECT defaultRect{0, 0, 900, 640};
    if (!rect) {
        AdjustWindowRectEx(&defaultRect, WS_OVERLAPPEDWINDOW, FALSE, 0);
        OffsetRect(&defaultRect, 40 - defaultRect.left, 40 - defaultRect.top);
        rect = &defaultRect;
    }
    if (!WindowBase::Create(instance_, kPlayerWindowClass, nullptr, kPlayerWindowTitle,
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, rect)) {
        return false;
    }
    dpi_ = WindowDpi(Hwnd());
    settingsArea_.onSize = [this](int width, int height) {
        if (HWND hostWindow = HostWindow()) {
            // The player places the host; a plug-in adjusts that in WM_WINDOWPOSCHANGING.
            SetWindowPos(hostWindow, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    };
    if (!settingsArea_.Create(instance_, kSettingsAreaClass, Hwnd(), nullptr,
                              WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS)) {
        Destroy();
        return false;
    }
    RECT client;
    GetClientRect(Hwnd(), &client);
    LayOut(client.right, client.bottom);
    engine_.SetDeliveryRequest([this] { RequestEventDelivery(); });
    if (engine_.HasPendingEvents()) RequestEventDelivery();
    SetTimer(Hwnd(), kPollTimer, kPollMilliseconds, nullptr);
    if (show) {
        ShowWindow(Hwnd(), SW_SHOW);
        UpdateWindow(Hwnd());
    }
    return true;
}

void PlayerWindow::MoveToScreenOfDpi(int dpi) {
    RECT window{};
    if (!Hwnd() || !GetWindowRect(Hwnd(), &window)) return;
    const int from = dpi_;
    auto scaled = [&](LONG size) { return static_cast<LONG>(MulDiv(static_cast<int>(size), dpi, from)); };
    RECT suggested{window.left, window.top, window.left + scaled(window.right - window.left),
                   window.top + scaled(window.bottom - window.top)};
    SendMessageW(Hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

bool PlayerWindow::MakeHostWindow() {
    hostWindow_.reset();
    auto host = std::make_unique<AreaWindow>();
    host->onSize = [this](int width, int height) {
        HWND window = pluginHost_.PluginWindow();
        if (window && IsWindow(window)) MoveWindow(window, 0, 0, width, height, TRUE);
    };
    RECT area{};
    GetClientRect(settingsArea_.Hwnd(), &area);
    if (!host->Create(instance_, kHostWindowClass, settingsArea_.Hwnd(), nullptr,
                      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, &area)) {
        return false;
    }
    hostWindow_ = std::move(host);
    return true;
}

HRESULT PlayerWindow::LoadPlugin() {
    if (!hasPluginClass_ || !Hwnd()) return E_UNEXPECTED;
    UnloadPlugin();
    if (!MakeHostWindow()) return E_FAIL;
    lastLoadResult_ = pluginHost_.Load(pluginClass_, HostWindow());
    InvalidateRect(Hwnd(), nullptr, FALSE);
    return lastLoadResult_;
}

HRESULT PlayerWindow::LoadPluginObject(IWMPPluginUI* plugin) {
    if (!Hwnd()) return E_UNEXPECTED;
    UnloadPlugin();
    if (!MakeHostWindow()) return E_FAIL;
    lastLoadResult_ = pluginHost_.Start(plugin, HostWindow());
    InvalidateRect(Hwnd(), nullptr, FALSE);
    return lastLoadResult_;
}

void PlayerWindow::UnloadPlugin() {
    if (!pluginHost_.IsLoaded()) return;
    pluginHost_.Unload();
    // Each plug-in gets a host window of its own: one that a plug-in subclassed leaves with it,
    // so nothing of an unloaded module stays in the player's windows.
    hostWindow_.reset();
    CoFreeUnusedLibraries();
}

void PlayerWindow::Rescan() {
    ++rescanCount_;
    engine_.Log().Add(LogKind::Player, "player.rescan");
    if (!hasPluginClass_) return;
    UnloadPlugin();
    LoadPlugin();
}

void PlayerWindow::LayOut(int width, int height) {
    MoveWindow(settingsArea_.Hwnd(), 0, kStripHeight, width, std::max(0, height - kStripHeight), TRUE);
}

void PlayerWindow::RequestEventDelivery() {
    if (deliveryPosted_ || !Hwnd()) return;
    deliveryPosted_ = PostMessageW(Hwnd(), kDeliverEventsMessage, 0, 0) != FALSE;
}

void PlayerWindow::PaintStrip(HDC dc, const RECT& client) {
    RECT strip{0, 0, client.right, kStripHeight};
    FillRect(dc, &strip, GetSysColorBrush(COLOR_BTNFACE));
    ScopedSelect font(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));

    std::wstring left;
    if (const Track* track = engine_.CurrentTrack()) {
        wchar_t counter[32];
        wsprintfW(counter, L"%d/%d  ", engine_.CurrentIndex() + 1, static_cast<int>(engine_.Playlist().size()));
        // A left-to-right mark after the names keeps the clock after a right-to-left title.
        left = counter + track->Describe() + L"\u200E   " + Clock(engine_.Position()) + L" / " +
               Clock(track->lengthSeconds) + L"   " + PlayStateName(engine_.PlayState());
    } else {
        left = L"No item";
    }
    std::wstring right;
    if (pluginHost_.IsLoaded()) {
        right = L"plug-in loaded";
    } else if (lastLoadResult_ == S_FALSE) {
        right = L"no plug-in";
    } else {
        wchar_t text[64];
        wsprintfW(text, L"plug-in not loaded (0x%08lX)", static_cast<unsigned long>(lastLoadResult_));
        right = text;
    }
    RECT textRect{8, 0, client.right - 8, kStripHeight};
    DrawTextW(dc, left.c_str(), -1, &textRect, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS);
    DrawTextW(dc, right.c_str(), -1, &textRect, DT_SINGLELINE | DT_VCENTER | DT_RIGHT | DT_NOPREFIX);
}

bool PlayerWindow::SavePicture(const std::wstring& path) {
    if (!Hwnd()) return false;
    return SaveWindowPicture(Hwnd(), path);
}

bool PlayerWindow::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                        MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    if (message == pluginAddRemoveMessage_ && message != 0) {
        Rescan();
        result = 0;
        return true;
    }
    switch (message) {
        case kDeliverEventsMessage:
            deliveryPosted_ = false;
            engine_.DeliverPendingEvents();
            result = 0;
            return true;
        case WM_TIMER:
            if (wParam != kPollTimer) return false;
            engine_.Poll();
            {
                RECT strip{0, 0, 0, kStripHeight};
                RECT client;
                GetClientRect(hwnd, &client);
                strip.right = client.right;
                InvalidateRect(hwnd, &strip, FALSE);
            }
            result = 0;
            return true;
        case WM_SIZE:
            LayOut(LOWORD(lParam), HIWORD(lParam));
            result = 0;
            return true;
        case WM_DPICHANGED:
            dpi_ = LOWORD(wParam);
            if (lParam) {
                const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
                SetWindowPos(hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                             suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
            }
            result = 0;
            return true;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(hwnd, &paint);
            RECT client;
            GetClientRect(hwnd, &client);
            PaintStrip(dc, client);
            EndPaint(hwnd, &paint);
            result = 0;
            return true;
        }
        case WM_ERASEBKGND:
            // The strip paints itself; the rest is covered by the settings area.
            result = 1;
            return true;
        case WM_CLOSE:
            // The plug-in ends while its windows still exist.
            UnloadPlugin();
            return false;
        case WM_DESTROY:
            KillTimer(hwnd, kPollTimer);
            UnloadPlugin();
            hostWindow_.reset();
            if (quitOnDestroy_) PostQuitMessage(0);
            return false;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------------------------
bool SaveWindowPicture(HWND hwnd, const std::wstring& path) {
    RECT client;
    if (!GetClientRect(hwnd, &client)) return false;
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0) return false;
    // Everything painted before the copy is taken.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // Under Wine what a window draws reaches the screen when its thread next waits for messages
    // (the window surfaces are flushed then); a copy taken before shows the window's old picture.
    // A wait that returns at once is enough.
    MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    info.bmiHeader.biSizeImage = imageSize;

    void* bits = nullptr;
    UniqueBitmap bitmap;
    {
        // From the screen, so a dialog or a menu open over the window is in the picture too.
        POINT origin{0, 0};
        ClientToScreen(hwnd, &origin);
        ScopedDc screenDc(nullptr, DCX_CACHE);
        if (!screenDc.get()) return false;
        UniqueMemoryDc memoryDc(CreateCompatibleDC(screenDc.get()));
        bitmap.reset(CreateDIBSection(screenDc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!memoryDc || !bitmap || !bits) return false;
        ScopedSelect select(memoryDc.get(), bitmap.get());
        if (!BitBlt(memoryDc.get(), 0, 0, width, height, screenDc.get(), origin.x, origin.y, SRCCOPY | CAPTUREBLT))
            return false;
        GdiFlush();
    }

    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + imageSize;
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    bool ok = WriteFile(file.get(), &header, sizeof(header), &written, nullptr) && written == sizeof(header);
    ok = ok && WriteFile(file.get(), &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
         written == sizeof(info.bmiHeader);
    ok = ok && WriteFile(file.get(), bits, imageSize, &written, nullptr) && written == imageSize;
    return ok;
}

}  // namespace sv::standin
