#include "web/browse_pane.h"

#include <cstdio>

#include "base/com_ptr.h"
#include "base/hresult.h"

namespace sv {

CSVPluginBrowse::CSVPluginBrowse() : script_(std::make_unique<NoPageScript>()) {}

CSVPluginBrowse::~CSVPluginBrowse() {
    // The window first, while this object's members are still whole.
    Destroy();
}

bool CSVPluginBrowse::RegisterPaneClass(HINSTANCE instance) {
    return RegisterWindowClass(instance, PaneClassInfo(kClassName));
}

bool CSVPluginBrowse::Create(HINSTANCE instance, HWND parent, DWORD style) {
    if (Hwnd() || !RegisterPaneClass(instance)) return false;
    return WindowBase::Create(instance, kClassName, parent, nullptr, style) != nullptr;
}

void CSVPluginBrowse::NavigateTo(std::wstring_view url) {
    address_.assign(url);
    ++navigations_;
    if (Hwnd()) SetWindowTextW(Hwnd(), address_.c_str());
}

void CSVPluginBrowse::SetPageScript(std::unique_ptr<PageScript> script) {
    script_ = script ? std::move(script) : std::make_unique<NoPageScript>();
}

bool CSVPluginBrowse::CallPageFunction(std::wstring_view name, const std::vector<std::wstring>& arguments,
                                       VARIANT* result) {
    // Whatever goes wrong in a call (a page, an out-of-memory copy) is the call failing.
    try {
        return script_->CallFunction(name, arguments, result);
    } catch (...) {
        ReportFailure("page function", CurrentExceptionHr());
        return false;
    }
}

void CSVPluginBrowse::CallWithoutResult(const wchar_t* name, const std::vector<std::wstring>& arguments) {
    if (!Hwnd() || !IsWindow(Hwnd())) return;
    CallPageFunction(name, arguments, nullptr);
}

void CSVPluginBrowse::PageMediaOpened(std::wstring_view userName, std::wstring_view artist, std::wstring_view title) {
    if (!Hwnd() || !IsWindow(Hwnd())) return;
    CallPageFunction(kMediaOpenedFunction, {std::wstring(userName), std::wstring(artist), std::wstring(title)},
                     nullptr);
}

void CSVPluginBrowse::PageMediaStarted() { CallWithoutResult(kMediaStartedFunction); }
void CSVPluginBrowse::PageMediaStopped() { CallWithoutResult(kMediaStoppedFunction); }
void CSVPluginBrowse::PageMediaPaused() { CallWithoutResult(kMediaPausedFunction); }
void CSVPluginBrowse::PageMediaEnded() { CallWithoutResult(kMediaEndedFunction); }
void CSVPluginBrowse::PageStop() { CallWithoutResult(kStopFunction); }

void CSVPluginBrowse::PageSeekTo(int32_t position) {
    if (!Hwnd() || !IsWindow(Hwnd())) return;
    wchar_t text[16];
    std::swprintf(text, 16, L"%d", static_cast<int>(position));
    CallPageFunction(kSeekToFunction, {std::wstring(text)}, nullptr);
}

double CSVPluginBrowse::PageGetCurrentTime() {
    if (!Hwnd() || !IsWindow(Hwnd())) return 0.0;
    UniqueVariant result;
    if (!CallPageFunction(kGetCurrentTimeFunction, {}, result.get())) return 0.0;
    if (FAILED(VariantChangeType(result.get(), result.get(), 0, VT_R8))) return 0.0;
    return result->dblVal;
}

}  // namespace sv
