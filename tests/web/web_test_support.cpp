#include "web_test_support.h"

#include <cwchar>

#include "active_script_ids.h"

namespace svtest {
namespace {

using sv::standin::kClsidJScript;
using sv::standin::kIidActiveScript;
using sv::standin::kIidActiveScriptParse;
using sv::standin::kIidActiveScriptSite;
constexpr wchar_t kFrameClass[] = L"SonavireWebTestFrame";

// The bridge of the BridgeScope alive now, which new panes hand their pages.
sv::CWebIDispatch* g_scopeBridge = nullptr;

}  // namespace

BridgeScope::BridgeScope(std::function<bool()> trusted)
    : bridge_(std::make_unique<sv::CWebIDispatch>([this]() -> sv::BridgeTarget* { return live ? &target : nullptr; },
                                                  std::move(trusted))) {
    g_scopeBridge = bridge_.get();
}

BridgeScope::~BridgeScope() { g_scopeBridge = nullptr; }

ScriptHost::ScriptHost() {
    CoCreateInstance(kClsidJScript, nullptr, CLSCTX_INPROC_SERVER, kIidActiveScript, engine_.put_void());
    if (engine_) engine_->QueryInterface(kIidActiveScriptParse, parse_.put_void());
}

ScriptHost::~ScriptHost() {
    // Wine's engine must not be closed before it was initialised.
    if (started_) engine_->Close();
}

void ScriptHost::AddItem(const wchar_t* name, IDispatch* object) {
    items_.emplace_back(name, sv::ComPtr<IDispatch>::From(object));
}

bool ScriptHost::UseEs5() {
    // IActiveScriptProperty; the engine's internal version number for ES5.
    static const IID kIidActiveScriptProperty = {
        0x4954E0D0, 0xFBC7, 0x11D1, {0x84, 0x10, 0x00, 0x60, 0x08, 0xC3, 0xFB, 0xFC}};
    sv::ComPtr<IActiveScriptProperty> property;
    if (!engine_ || FAILED(engine_->QueryInterface(kIidActiveScriptProperty, property.put_void()))) return false;
    VARIANT version;
    version.vt = VT_I4;
    version.lVal = 0x400 | 0x102;  // the HTML flag with ES5, as a browser's documents ask
    return SUCCEEDED(property->SetProperty(SCRIPTPROP_INVOKEVERSIONING, nullptr, &version));
}

bool ScriptHost::Start() {
    if (!parse_ || FAILED(engine_->SetScriptSite(this)) || FAILED(parse_->InitNew())) return false;
    started_ = true;
    for (const auto& item : items_) engine_->AddNamedItem(item.first.c_str(), SCRIPTITEM_ISVISIBLE);
    return SUCCEEDED(engine_->SetScriptState(SCRIPTSTATE_CONNECTED));
}

bool ScriptHost::Run(const std::wstring& code, std::wstring* value) {
    EXCEPINFO exception{};
    sv::UniqueVariant result;
    const HRESULT hr = parse_->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                               value ? SCRIPTTEXT_ISEXPRESSION : SCRIPTTEXT_ISVISIBLE,
                                               value ? result.get() : nullptr, &exception);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (value) {
        value->clear();
        sv::UniqueVariant text;
        if (SUCCEEDED(hr) && result->vt == VT_BOOL) {
            value->assign(result->boolVal ? L"true" : L"false");  // as the script writes them
        } else if (SUCCEEDED(hr) && result->vt != VT_EMPTY &&
                   SUCCEEDED(VariantChangeType(text.get(), result.get(), 0, VT_BSTR)))
            value->assign(text->bstrVal, SysStringLen(text->bstrVal));
    }
    return SUCCEEDED(hr);
}

bool ScriptHost::CallFunction(const wchar_t* name) {
    sv::ComPtr<IDispatch> global;
    if (!engine_ || FAILED(engine_->GetScriptDispatch(nullptr, global.put())) || !global) return false;
    LPOLESTR names = const_cast<LPOLESTR>(name);
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(global->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_SYSTEM_DEFAULT, &id))) return false;
    DISPPARAMS none{};
    sv::UniqueVariant result;
    return SUCCEEDED(global->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, result.get(), nullptr, nullptr));
}

STDMETHODIMP ScriptHost::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, kIidActiveScriptSite)) return E_NOINTERFACE;
    *ppv = static_cast<IActiveScriptSite*>(this);
    return S_OK;
}

STDMETHODIMP ScriptHost::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type) {
    if (type) *type = nullptr;
    if (item) *item = nullptr;
    for (const auto& known : items_) {
        if (std::wcscmp(known.first.c_str(), name) != 0) continue;
        if ((mask & SCRIPTINFO_IUNKNOWN) && item) *item = known.second.Copy().detach();
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP ScriptHost::OnScriptError(IActiveScriptError* error) {
    EXCEPINFO info{};
    error->GetExceptionInfo(&info);
    errors.push_back(info.bstrDescription ? info.bstrDescription : L"(no description)");
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return S_OK;
}

PaneWindow::PaneWindow(int width, int height) {
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    info.lpfnWndProc = DefWindowProcW;
    info.hInstance = GetModuleHandleW(nullptr);
    info.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    info.lpszClassName = kFrameClass;
    RegisterClassExW(&info);
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    frame_ = CreateWindowExW(0, kFrameClass, L"web test", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 30, 30,
                             frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
}

PaneWindow::~PaneWindow() {
    panes_.clear();
    if (frame_) DestroyWindow(frame_);
}

sv::CSVPluginBrowse& PaneWindow::AddPane(const RECT* rect) {
    panes_.push_back(std::make_unique<sv::CSVPluginBrowse>());
    sv::CSVPluginBrowse& pane = *panes_.back();
    pane.SetScriptBridge(g_scopeBridge);
    pane.Create(GetModuleHandleW(nullptr), frame_, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN);
    RECT area{};
    if (rect) {
        area = *rect;
    } else {
        GetClientRect(frame_, &area);
    }
    MoveWindow(pane.Hwnd(), area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
    return pane;
}

sv::standin::StandinBrowser* StandinIn(sv::CSVPluginBrowse& pane) {
    const HWND control = pane.Browser().ControlWindow();
    for (sv::standin::StandinBrowser* browser : sv::standin::LiveStandinBrowsers()) {
        if (control && browser->Window() == control) return browser;
    }
    return nullptr;
}

bool ShowPage(sv::CSVPluginBrowse& pane, const std::wstring& address) {
    sv::standin::StandinBrowser* browser = StandinIn(pane);
    if (!browser) return false;
    const int before = browser->CompletedLoads();
    pane.NavigateTo(address);
    return PumpUntil([&] { return browser->CompletedLoads() > before && !browser->Loading(); });
}

std::wstring WritePage(const std::wstring& name, const std::string& html) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"sonavire-web-tests-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, html.data(), static_cast<DWORD>(html.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

std::wstring PageValue(sv::CSVPluginBrowse& pane, const std::wstring& expression) {
    std::wstring value;
    if (sv::standin::StandinBrowser* browser = StandinIn(pane)) browser->RunScript(expression, &value);
    return value;
}

}  // namespace svtest
