#include "panes/status_line.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "resources/resource_ids.h"
#include "settings/settings.h"

namespace sv {

CSVPluginStatus::CSVPluginStatus(const LyricsPaneHost* host) : host_(host) {}

CSVPluginStatus::~CSVPluginStatus() { Destroy(); }

bool CSVPluginStatus::RegisterPaneClass(HINSTANCE instance) {
    return RegisterWindowClass(instance, PaneClassInfo(kClassName));
}

bool CSVPluginStatus::Create(HINSTANCE instance, HWND parent, DWORD style, const RECT* rect) {
    if (Hwnd() || !RegisterPaneClass(instance)) return false;
    instance_ = instance;
    return WindowBase::Create(instance, kClassName, parent, nullptr, style, 0, rect) != nullptr;
}

int CSVPluginStatus::ShownText(wchar_t (&text)[kSettingTextChars]) const {
    text[0] = L'\0';
    const StatusTriple* status = host_ ? host_->Status() : nullptr;
    if (!status || status->statusTextId == IDS_STATUS_NONE) return 0;
    // A code without a text in the string table shows nothing.
    const int length = LoadStringW(instance_, status->statusTextId, text, static_cast<int>(kSettingTextChars));
    if (length <= 0) {
        text[0] = L'\0';
        return 0;
    }
    const std::wstring_view loaded(text, static_cast<size_t>(length));
    const size_t mark = loaded.find(L"%1");
    if (mark == std::wstring_view::npos) return length;
    // The argument (a file name) in place of "%1", cut to fit.
    std::wstring shown(loaded.substr(0, mark));
    shown += status->statusArgument;
    shown += loaded.substr(mark + 2);
    shown.resize(std::min(shown.size(), static_cast<size_t>(kSettingTextChars - 1)));
    std::copy(shown.begin(), shown.end(), text);
    text[shown.size()] = L'\0';
    return static_cast<int>(shown.size());
}

void CSVPluginStatus::StatusChanged() {
    if (!Hwnd()) return;
    InvalidateRect(Hwnd(), nullptr, FALSE);
    wchar_t text[kSettingTextChars];
    ShownText(text);
    SetWindowTextW(Hwnd(), text);
}

bool CSVPluginStatus::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM, LRESULT& result,
                                           MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    switch (message) {
        case WM_PAINT:
            OnPaint();
            result = 0;
            return true;
        case WM_ERASEBKGND: {
            RECT client;
            UniqueBrush brush(CreateSolidBrush(kEdgeColour));
            if (brush && GetClientRect(hwnd, &client)) FillRect(reinterpret_cast<HDC>(wParam), &client, brush.get());
            result = 1;
            return true;
        }
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_ARROW));
            result = TRUE;
            return true;
        default:
            return false;
    }
}

void CSVPluginStatus::OnPaint() {
    PaintScope paint(Hwnd());
    RECT client{};
    GetClientRect(Hwnd(), &client);
    const SIZE size = {client.right, client.bottom};
    if (size.cx <= 0 || size.cy <= 0) return;
    BufferedPaint buffer(paint.dc(), client);
    const HDC memory = buffer.dc();
    if (!memory) return;
    FillRect(memory, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    UniquePen edge(CreatePen(PS_SOLID, 1, kEdgeColour));
    if (edge) {
        ScopedSelect selectPen(memory, edge.get());
        MoveToEx(memory, 0, 0, nullptr);
        LineTo(memory, size.cx, 0);
    }
    const StatusTriple* status = host_ ? host_->Status() : nullptr;
    wchar_t text[kSettingTextChars];
    const int length = ShownText(text);
    if (status && status->linesShown && length > 0) {
        ScopedSelect selectFont(memory, Look().TextFont());
        SetTextColor(memory, status->statusColour);
        SetBkMode(memory, TRANSPARENT);
        RECT area = client;
        DrawTextW(memory, text, length, &area, DT_SINGLELINE | DT_LEFT | DT_TOP | DT_NOPREFIX);
    }
}

}  // namespace sv
