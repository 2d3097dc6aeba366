#include "web/browse_pane.h"

#include <mshtml.h>

#include <cstdio>

#include "base/com_ptr.h"
#include "base/hresult.h"
#include "web/page_trust.h"

namespace sv {
namespace {

// Page calls in progress on this thread, nested through pages that call back. Kept outside the
// pane, which a page may end during its own call.
int g_pageCallDepth = 0;

struct PageCallDepth {
    PageCallDepth() { ++g_pageCallDepth; }
    ~PageCallDepth() { --g_pageCallDepth; }
};

// The argument list of one call: the last argument first, each a string, freed after the call.
class ArgumentList {
public:
    explicit ArgumentList(const std::vector<std::wstring>& arguments) : slots_(arguments.size()) {
        const size_t n = arguments.size();
        for (size_t i = 0; i < n; ++i) {
            VariantInit(&slots_[i]);
            const std::wstring& text = arguments[n - 1 - i];
            slots_[i].bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!slots_[i].bstrVal) ThrowHr(E_OUTOFMEMORY);
            slots_[i].vt = VT_BSTR;
        }
    }
    ~ArgumentList() {
        for (VARIANT& slot : slots_) VariantClear(&slot);
    }
    ArgumentList(const ArgumentList&) = delete;
    ArgumentList& operator=(const ArgumentList&) = delete;
    DISPPARAMS Parameters() {
        return DISPPARAMS{slots_.empty() ? nullptr : slots_.data(), nullptr, static_cast<UINT>(slots_.size()), 0};
    }

private:
    std::vector<VARIANT> slots_;
};

// Calls the global function name of a page's script. Uses nothing but its arguments.
bool CallScriptFunction(IDispatch* script, std::wstring_view name, const std::vector<std::wstring>& arguments,
                        VARIANT* result) {
    std::wstring member(name);
    LPOLESTR names = member.data();
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(script->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_SYSTEM_DEFAULT, &id))) return false;
    ArgumentList list(arguments);
    DISPPARAMS parameters = list.Parameters();
    EXCEPINFO exception{};
    UINT argumentError = 0xFFFFFFFFu;
    UniqueVariant local;
    const HRESULT hr =
        script->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &parameters, local.get(), &exception, &argumentError);
    // A script error comes back with its texts, which are the caller's to free.
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) return false;
    return !result || SUCCEEDED(VariantCopy(result, local.get()));
}

}  // namespace

CSVPluginBrowse::CSVPluginBrowse() = default;

CSVPluginBrowse::~CSVPluginBrowse() {
    // The window first, while this object's members are still whole.
    Destroy();
}

bool CSVPluginBrowse::RegisterPaneClass(HINSTANCE instance) {
    return RegisterWindowClass(instance, PaneClassInfo(kClassName));
}

bool CSVPluginBrowse::Create(HINSTANCE instance, HWND parent, DWORD style, bool makeControl, const RECT* rect) {
    if (Hwnd() || !RegisterPaneClass(instance)) return false;
    makeControlOnCreate_ = makeControl;
    return WindowBase::Create(instance, kClassName, parent, nullptr, style, 0, rect) != nullptr;
}

bool CSVPluginBrowse::CreateControl() {
    if (!Hwnd()) return false;
    if (browser_.HasControl()) return true;
    // A control that cannot be made leaves the pane empty: every page call then finds no page.
    RECT client{};
    GetClientRect(Hwnd(), &client);
    return browser_.Create(Hwnd(), client);
}

bool CSVPluginBrowse::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                           MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    switch (message) {
        case WM_CREATE:
            // A control that cannot be made leaves the pane empty: every page call then finds no page.
            if (makeControlOnCreate_) {
                RECT client{};
                GetClientRect(hwnd, &client);
                browser_.Create(hwnd, client);
            }
            result = 0;
            return true;
        case WM_SIZE:
            browser_.Move(0, 0, LOWORD(lParam), HIWORD(lParam));
            if (const HWND control = browser_.ControlWindow()) InvalidateRect(control, nullptr, TRUE);
            result = 0;
            return true;
        case WM_ERASEBKGND:
            // The control covers the whole pane; without one the window colour shows.
            if (!browser_.HasControl()) return false;
            result = 1;
            return true;
        case WM_DESTROY:
            // Closed while the pane's window still exists, as in-place deactivation expects.
            browser_.Destroy();
            return false;
        default:
            return false;
    }
}

void CSVPluginBrowse::NavigateTo(std::wstring_view url) {
    address_.assign(url);
    if (Hwnd()) SetWindowTextW(Hwnd(), address_.c_str());
    navigationKept_ = !browser_.HasControl();
    if (!navigationKept_) browser_.Navigate(address_);
}

bool CSVPluginBrowse::NavigateKeptAddress() {
    if (!navigationKept_ || !browser_.HasControl()) return false;
    navigationKept_ = false;
    return SUCCEEDED(browser_.Navigate(address_));
}

bool CSVPluginBrowse::GetPageScript(ComPtr<IDispatch>& script) {
    script.reset();
    ComPtr<IDispatch> document = browser_.Document();
    if (!document) return false;
    ComPtr<IHTMLDocument2> html;
    if (FAILED(document->QueryInterface(kIidHtmlDocument2, html.put_void())) || !html) return false;
    document.reset();
    ComPtr<IDispatch> found;
    if (FAILED(html->get_Script(found.put())) || !found) return false;
    script = std::move(found);
    return true;
}

void CSVPluginBrowse::SetPageScript(std::unique_ptr<PageScript> script) { script_ = std::move(script); }

bool CSVPluginBrowse::CallPageFunction(std::wstring_view name, const std::vector<std::wstring>& arguments,
                                       VARIANT* result) {
    if (g_pageCallDepth >= kMostNestedPageCalls) return false;
    PageCallDepth depth;
    // A call out to the page's script is a boundary: whatever goes wrong in it (the page, an
    // out-of-memory copy) is the call failing, and the event that made it carries on.
    bool called = false;
    CallbackBoundary("page function", [&] {
        if (script_) {
            called = script_->CallFunction(name, arguments, result);
            return;
        }
        ComPtr<IDispatch> script;
        if (!GetPageScript(script)) return;
        // From here on only locals: the page may end this pane during its call.
        called = CallScriptFunction(script.get(), name, arguments, result);
    });
    return called;
}

void CSVPluginBrowse::CallWithoutResult(const wchar_t* name, const std::vector<std::wstring>& arguments) {
    if (!Hwnd() || !IsWindow(Hwnd())) return;
    CallPageFunction(name, arguments, nullptr);
}

bool CSVPluginBrowse::ShowsTrustedPage() const {
    // A test's script stands in for the page last navigated to.
    return IsTrustedPage(script_ ? address_ : browser_.LocationUrl());
}

void CSVPluginBrowse::PageMediaOpened(std::wstring_view userName, std::wstring_view artist, std::wstring_view title) {
    if (!Hwnd() || !IsWindow(Hwnd())) return;
    // What the user listens to, and under which name, is no other site's business.
    if (!ShowsTrustedPage()) return;
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
    // An object would be asked for its value by running more of the page: not a number.
    if (result->vt == VT_DISPATCH || result->vt == VT_UNKNOWN) return 0.0;
    if (FAILED(VariantChangeType(result.get(), result.get(), 0, VT_R8))) return 0.0;
    return result->dblVal;
}

}  // namespace sv
