#include "standin_browser.h"

#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <string>

#include "base/com_ptr.h"
#include "base/win_handles.h"
#include "com_stubs.h"
#include "html_model.h"
#include "standin_page.h"

namespace sv::standin {
namespace {

const CLSID kClsidWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
const IID kIidDocHostUiHandler = {0xBD3F23C0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};
constexpr wchar_t kWindowClass[] = L"SonavireStandinBrowser";
constexpr UINT kLoadMessage = WM_APP + 0x51;
constexpr COLORREF kTitleColour = RGB(0x1d, 0x4f, 0x91);

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    const size_t n = wcslen(prefix);
    return text.size() >= n && _wcsnicmp(text.c_str(), prefix, n) == 0;
}

// A path as a browser reports it: "file:///C:/Program%20Files/...".
std::wstring FileUrlOf(const std::wstring& path) {
    std::wstring url = L"file:///";
    for (wchar_t c : path) {
        if (c == L'\\') {
            url += L'/';
        } else if (c == L' ' || c == L'%' || c == L'#' || c == L'?') {
            wchar_t escape[4];
            std::swprintf(escape, 4, L"%%%02X", static_cast<unsigned>(c));
            url += escape;
        } else {
            url += c;
        }
    }
    return url;
}

// "file:///C:/a%20b" or "C:\a b" as the path "C:\a b".
std::wstring PathOf(const std::wstring& address) {
    if (!StartsWith(address, L"file:")) return address;
    std::wstring rest = address.substr(5);
    while (!rest.empty() && rest.front() == L'/') rest.erase(0, 1);
    std::wstring path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == L'%' && i + 2 < rest.size()) {
            path += static_cast<wchar_t>(std::wcstol(rest.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            path += rest[i] == L'/' ? L'\\' : rest[i];
        }
    }
    return path;
}

bool FetchHttp(const std::wstring& url, std::string& body, std::wstring& error) {
    UniqueHinternet session(
        InternetOpenW(L"Sonavire stand-in browser", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session) {
        error = L"no Internet session";
        return false;
    }
    DWORD timeout = 10000;
    InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    InternetSetOptionW(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    UniqueHinternet request(InternetOpenUrlW(
        session.get(), url.c_str(), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI, 0));
    if (!request) {
        error = L"the server did not answer (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    char buffer[8192];
    DWORD read = 0;
    while (InternetReadFile(request.get(), buffer, sizeof(buffer), &read) && read > 0) body.append(buffer, read);
    return true;
}

bool FetchFile(const std::wstring& path, std::string& body, std::wstring& error) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = L"no such file: " + path;
        return false;
    }
    char buffer[8192];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) body.append(buffer, read);
    return true;
}

std::wstring Utf16(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::map<std::wstring, std::string>& ServedPages() {
    static std::map<std::wstring, std::string> pages;
    return pages;
}

class Browser;
std::vector<Browser*>& Registry() {
    static std::vector<Browser*> browsers;
    return browsers;
}

class Browser final : public WebBrowser2Stubs,
                      public IOleObject,
                      public IOleInPlaceObject,
                      public StandinBrowser,
                      private PageOwner {
public:
    Browser() { Registry().push_back(this); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, __uuidof(IWebBrowser)) || IsEqualIID(riid, __uuidof(IWebBrowserApp)) ||
            IsEqualIID(riid, __uuidof(IWebBrowser2))) {
            *ppv = static_cast<IWebBrowser2*>(this);
        } else if (IsEqualIID(riid, IID_IOleObject)) {
            *ppv = static_cast<IOleObject*>(this);
        } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject)) {
            *ppv = static_cast<IOleInPlaceObject*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: the container here uses the interface's own methods.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

    // IWebBrowser2, what the stand-in does.
    STDMETHODIMP Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
        return StartNavigation(url ? std::wstring(url, SysStringLen(url)) : std::wstring());
    }
    STDMETHODIMP Navigate2(VARIANT* url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
        if (url && url->vt == (VT_BYREF | VT_VARIANT) && url->pvarVal) url = url->pvarVal;
        if (!url || url->vt != VT_BSTR) return E_INVALIDARG;
        return StartNavigation(std::wstring(url->bstrVal, SysStringLen(url->bstrVal)));
    }
    STDMETHODIMP get_Document(IDispatch** document) override {
        if (!document) return E_POINTER;
        *document = page_ ? page_->Document().detach() : nullptr;
        return *document ? S_OK : S_FALSE;
    }
    STDMETHODIMP get_LocationURL(BSTR* location) override {
        if (!location) return E_POINTER;
        *location = SysAllocString(Location().c_str());
        return S_OK;
    }
    STDMETHODIMP get_LocationName(BSTR* name) override {
        if (!name) return E_POINTER;
        *name = SysAllocString(Title().c_str());
        return S_OK;
    }
    STDMETHODIMP get_Busy(VARIANT_BOOL* busy) override {
        if (!busy) return E_POINTER;
        *busy = Loading() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHODIMP get_ReadyState(READYSTATE* state) override {
        if (!state) return E_POINTER;
        *state = Loading() ? READYSTATE_LOADING : page_ ? READYSTATE_COMPLETE : READYSTATE_UNINITIALIZED;
        return S_OK;
    }
    STDMETHODIMP get_HWND(SHANDLE_PTR* window) override {
        if (!window) return E_POINTER;
        *window = reinterpret_cast<SHANDLE_PTR>(window_);
        return S_OK;
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        // As the real control: the site is asked for its document host at once.
        hostUi_.reset();
        site_ = ComPtr<IOleClientSite>::From(site);
        if (site_) site_->QueryInterface(kIidDocHostUiHandler, hostUi_.put_void());
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = site_.Copy().detach();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override {
        InPlaceDeactivate();
        UnloadPage();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) override {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW && verb != OLEIVERB_UIACTIVATE) return E_NOTIMPL;
        if (site && site != site_.get()) SetClientSite(site);
        return ActivateInPlace();
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* classId) override {
        if (!classId) return E_POINTER;
        *classId = kClsidWebBrowser;
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
        if (!status) return E_POINTER;
        *status = OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT | OLEMISC_SETCLIENTSITEFIRST;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow and IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = window_;
        return window_ ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override {
        if (!inPlaceSite_) return S_OK;
        const ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
        if (page_) page_->Shutdown();  // its timers live on the window
        if (window_) {
            SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            DestroyWindow(window_);
            window_ = nullptr;
        }
        site->OnInPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
        if (!position) return E_POINTER;
        if (window_) {
            MoveWindow(window_, position->left, position->top, position->right - position->left,
                       position->bottom - position->top, TRUE);
        }
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // StandinBrowser
    std::wstring Location() const override { return page_ ? page_->Location() : std::wstring(); }
    std::wstring Title() const override { return page_ ? page_->Model().title : std::wstring(); }
    std::wstring Text() const override { return page_ ? page_->Model().VisibleText() : std::wstring(); }
    int CompletedLoads() const override { return loads_; }
    bool Loading() const override { return !pendingUrl_.empty(); }
    std::vector<std::wstring> ScriptErrors() const override {
        return page_ ? page_->Errors() : std::vector<std::wstring>();
    }
    long HostInfoFlags() const override { return hostInfoFlags_; }
    int ExternalRequests() const override { return externalRequests_; }
    HWND Window() const override { return window_; }
    bool RunScript(const std::wstring& code, std::wstring* value) override {
        const ComPtr<Page> page = page_.Copy();
        return page && page->Run(code, value);
    }
    bool RunFrameScript(size_t frame, const std::wstring& code, std::wstring* value) override {
        const ComPtr<Page> page = page_.Copy();
        return page && page->FrameScript(frame, code, value);
    }
    bool AskExternal(IDispatch** external) override {
        *external = nullptr;
        return hostUi_ && SUCCEEDED(hostUi_->GetExternal(external)) && *external;
    }

private:
    ~Browser() {
        InPlaceDeactivate();
        UnloadPage();
        auto& registry = Registry();
        registry.erase(std::remove(registry.begin(), registry.end(), this), registry.end());
    }

    // PageOwner
    IDocHostUIHandler* DocumentHost() override { return hostUi_.get(); }
    HWND PageWindow() override { return window_; }
    void PageChanged() override {
        if (window_) InvalidateRect(window_, nullptr, TRUE);
    }
    void CountExternalRequest() override { ++externalRequests_; }

    HRESULT ActivateInPlace() {
        if (window_) return S_OK;
        if (!site_) return E_UNEXPECTED;
        ComPtr<IOleInPlaceSite> site;
        if (FAILED(site_->QueryInterface(IID_IOleInPlaceSite, site.put_void())) || !site) return E_NOINTERFACE;
        if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
        site->OnInPlaceActivate();
        HWND parent = nullptr;
        if (FAILED(site->GetWindow(&parent)) || !parent) return E_FAIL;
        ComPtr<IOleInPlaceFrame> frame;
        ComPtr<IOleInPlaceUIWindow> document;
        RECT position{}, clip{};
        OLEINPLACEFRAMEINFO frameInfo{};
        frameInfo.cb = sizeof(frameInfo);
        if (FAILED(site->GetWindowContext(frame.put(), document.put(), &position, &clip, &frameInfo))) return E_FAIL;
        if (!RegisterWindowClass()) return E_FAIL;
        window_ = CreateWindowExW(0, kWindowClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, position.left,
                                  position.top, position.right - position.left, position.bottom - position.top, parent,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!window_) return E_FAIL;
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        inPlaceSite_ = std::move(site);
        site_->ShowObject();
        if (!pendingUrl_.empty()) PostMessageW(window_, kLoadMessage, 0, 0);
        return S_OK;
    }

    HRESULT StartNavigation(std::wstring url) {
        if (url.empty()) return E_INVALIDARG;
        pendingUrl_ = std::move(url);
        // Asynchronous, as the real control: the page loads once the caller's message loop runs.
        if (window_) PostMessageW(window_, kLoadMessage, 0, 0);
        return S_OK;
    }

    void LoadPendingPage() {
        if (pendingUrl_.empty()) return;
        const std::wstring url = pendingUrl_;
        // The document host is asked for its wishes (border, ...) while a document loads.
        if (hostUi_) {
            DOCHOSTUIINFO info{};
            info.cbSize = sizeof(info);
            if (SUCCEEDED(hostUi_->GetHostInfo(&info))) hostInfoFlags_ = static_cast<long>(info.dwFlags);
        }
        std::wstring location, html;
        LoadDocument(url, location, html);
        UnloadPage();
        pendingUrl_.clear();
        page_ = ComPtr<Page>::Attach(new Page(this, location, ParseHtml(html)));
        const ComPtr<Page> page = page_.Copy();
        page->Start();
        ++loads_;
        PageChanged();
    }

    void UnloadPage() {
        if (const ComPtr<Page> page = std::move(page_)) page->Shutdown();
    }

    void Paint() {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(window_, &paint);
        RECT client;
        GetClientRect(window_, &client);
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        if (!titleFont_) {
            titleFont_.reset(CreateFontW(-15, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma"));
            textFont_.reset(CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma"));
        }
        SetBkMode(dc, TRANSPARENT);
        RECT area{client.left + 8, client.top + 6, client.right - 8, client.bottom - 4};
        const std::wstring title = Loading() && !page_ ? L"Loading..." : Title();
        {
            ScopedSelect font(dc, titleFont_.get());
            SetTextColor(dc, kTitleColour);
            RECT measured = area;
            DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &measured,
                      DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
            DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &area, DT_WORDBREAK | DT_NOPREFIX);
            area.top = measured.bottom + 6;
        }
        ScopedSelect font(dc, textFont_.get());
        SetTextColor(dc, RGB(0x22, 0x22, 0x22));
        const std::wstring text = Text();
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
        EndPaint(window_, &paint);
    }

    static bool RegisterWindowClass() {
        WNDCLASSEXW info{};
        info.cbSize = sizeof(info);
        if (GetClassInfoExW(GetModuleHandleW(nullptr), kWindowClass, &info)) return true;
        info.cbSize = sizeof(info);
        info.lpfnWndProc = &Procedure;
        info.hInstance = GetModuleHandleW(nullptr);
        info.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        info.lpszClassName = kWindowClass;
        return RegisterClassExW(&info) != 0;
    }

    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* browser = reinterpret_cast<Browser*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!browser) return DefWindowProcW(hwnd, message, wParam, lParam);
        // Held for the message: a page may end the browser while it handles it.
        const ComPtr<IWebBrowser2> hold = ComPtr<IWebBrowser2>::From(browser);
        switch (message) {
            case kLoadMessage:
                browser->LoadPendingPage();
                return 0;
            case WM_TIMER:
                if (const ComPtr<Page> page = browser->page_.Copy()) page->OnTimer(wParam);
                return 0;
            case WM_PAINT:
                browser->Paint();
                return 0;
            case WM_ERASEBKGND:
                return 1;
            default:
                return DefWindowProcW(hwnd, message, wParam, lParam);
        }
    }

    ULONG references_ = 1;
    ComPtr<IOleClientSite> site_;
    ComPtr<IDocHostUIHandler> hostUi_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    HWND window_ = nullptr;
    std::wstring pendingUrl_;
    ComPtr<Page> page_;
    int loads_ = 0;
    long hostInfoFlags_ = -1;
    int externalRequests_ = 0;
    UniqueFont titleFont_;
    UniqueFont textFont_;
};

class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static: lives as long as the process
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* browser = new (std::nothrow) Browser();
        if (!browser) return E_OUTOFMEMORY;
        const HRESULT hr = static_cast<IWebBrowser2*>(browser)->QueryInterface(riid, ppv);
        static_cast<IWebBrowser2*>(browser)->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

bool LoadDocument(const std::wstring& url, std::wstring& location, std::wstring& html) {
    std::string body;
    std::wstring error;
    location = url;
    bool loaded;
    const auto served = ServedPages().find(url);
    if (served != ServedPages().end()) {
        body = served->second;
        loaded = true;
    } else if (StartsWith(url, L"http://") || StartsWith(url, L"https://")) {
        loaded = FetchHttp(url, body, error);
    } else if (StartsWith(url, L"about:")) {
        loaded = true;
    } else {
        const std::wstring path = PathOf(url);
        location = FileUrlOf(path);
        loaded = FetchFile(path, body, error);
    }
    html = Utf16(body);
    if (!loaded) html = L"<title>The page cannot be displayed</title><p>" + url + L"</p><p>" + error + L"</p>";
    return loaded;
}

ScopedServedPage::ScopedServedPage(std::wstring url, std::string html) : url_(std::move(url)) {
    ServedPages()[url_] = std::move(html);
}

ScopedServedPage::~ScopedServedPage() { ServedPages().erase(url_); }

ScopedStandinBrowser::ScopedStandinBrowser() {
    if (FAILED(CoRegisterClassObject(kClsidWebBrowser, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_)))
        cookie_ = 0;
}

ScopedStandinBrowser::~ScopedStandinBrowser() {
    if (cookie_) CoRevokeClassObject(cookie_);
}

std::vector<StandinBrowser*> LiveStandinBrowsers() {
    std::vector<StandinBrowser*> live;
    for (Browser* browser : Registry()) live.push_back(browser);
    return live;
}

}  // namespace sv::standin
