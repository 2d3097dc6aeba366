#include "panes/status_line.h"

#include "resources/resource_ids.h"
#include "settings/settings.h"

namespace sv {

CSVPluginStatus::CSVPluginStatus(const LyricsPaneHost* host) : host_(host) {}

CSVPluginStatus::~CSVPluginStatus() { Destroy(); }

bool CSVPluginStatus::RegisterPaneClass(HINSTANCE instance) {
    return RegisterWindowClass(instance, PaneClassInfo(kClassName));
}

bool CSVPluginStatus::Create(HINSTANCE instance, HWND parent, DWORD style) {
    if (Hwnd() || !RegisterPaneClass(instance)) return false;
    instance_ = instance;
    return WindowBase::Create(instance, kClassName, parent, nullptr, style) != nullptr;
}

void CSVPluginStatus::StatusChanged() {
    if (!Hwnd()) return;
    InvalidateRect(Hwnd(), nullptr, FALSE);
    const StatusTriple* status = host_ ? host_->Status() : nullptr;
    wchar_t text[kSettingTextChars] = {};
    if (status && status->statusTextId != IDS_STATUS_NONE) {
        // A code without a text in the string table shows nothing.
        if (LoadStringW(instance_, status->statusTextId, text, static_cast<int>(kSettingTextChars)) <= 0) text[0] = L'\0';
    }
    SetWindowTextW(Hwnd(), text);
}

}  // namespace sv
