#include "plugin_test_support.h"

#include <algorithm>
#include <cstdlib>

namespace svtest {

PluginWindows PluginWindows::In(HWND hostWindow) {
    PluginWindows windows;
    for (HWND child : ChildrenInZOrder(hostWindow)) {
        if (ClassOf(child) == L"SVPluginWindow") windows.main = child;
    }
    if (!windows.main) return windows;
    // Whether a new sibling goes to the top or the bottom of the z-order differs between systems:
    // the status line, made first, tells which end the creation order starts at.
    std::vector<HWND> panes = ChildrenInZOrder(windows.main);
    if (!panes.empty() && ClassOf(panes.back()) == L"SVPluginStatus") std::reverse(panes.begin(), panes.end());
    windows.panes = panes;
    if (panes.size() == 6) {
        windows.actionBar = panes[1];
        windows.browse = panes[2];
        windows.advert = panes[3];
        windows.logo = panes[4];
        windows.lyrics = panes[5];
    }
    // The status line is there from Create on; the other panes come a few messages later.
    for (HWND pane : panes) {
        if (ClassOf(pane) == L"SVPluginStatus") windows.statusLine = pane;
    }
    return windows;
}

std::wstring ResourceText(HMODULE module, UINT id) {
    wchar_t text[512] = {};
    LoadStringW(module, id, text, 512);
    return text;
}

namespace {
DialogDismisser* g_dismisser = nullptr;
}

DialogDismisser::DialogDismisser(int recordedControlId) : controlId_(recordedControlId) {
    g_dismisser = this;
    hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, &DialogDismisser::Hook, nullptr, GetCurrentThreadId());
}

DialogDismisser::~DialogDismisser() {
    if (hook_) UnhookWindowsHookEx(hook_);
    g_dismisser = nullptr;
}

LRESULT CALLBACK DialogDismisser::Hook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call && call->message == WM_INITDIALOG && g_dismisser) {
        Seen seen;
        seen.caption = TextOf(call->hwnd);
        if (HWND control = GetDlgItem(call->hwnd, g_dismisser->controlId_)) seen.controlText = TextOf(control);
        g_dismisser->seen_.push_back(seen);
        // Answered from the dialog's own modal loop, as a press of Escape would be.
        PostMessageW(call->hwnd, WM_COMMAND, IDCANCEL, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace svtest
