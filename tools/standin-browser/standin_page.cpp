#include "standin_page.h"

#include <dispex.h>

#include <cwchar>
#include <utility>

#include "active_script_ids.h"
#include "com_stubs.h"

namespace sv::standin {
namespace {

const IID kIidHtmlDocument = {0x626FC520, 0xA41E, 0x11CF, {0xA7, 0x31, 0x00, 0xA0, 0xC9, 0x08, 0x26, 0x37}};
const IID kIidHtmlDocument2 = {0x332C4425, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
// IID_IHTMLWindow2, which is also the service id SID_SHTMLWindow.
const IID kIidHtmlWindow2 = {0x332C4427, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
// Frames of frames are loaded this deep, no deeper (a page may frame itself).
constexpr int kDeepestFrame = 2;

// The script language of a document in a current Internet Explorer (ES5: getters, setters,
// Object.defineProperty), as pages asking for "IE=edge" get it.
void UseDocumentLanguage(IActiveScript* engine) {
    const IID kIidActiveScriptProperty = {0x4954E0D0, 0xFBC7, 0x11D1, {0x84, 0x10, 0x00, 0x60, 0x08, 0xC3, 0xFB, 0xFC}};
    ComPtr<IActiveScriptProperty> property;
    if (FAILED(engine->QueryInterface(kIidActiveScriptProperty, property.put_void())) || !property) return;
    VARIANT version;
    version.vt = VT_I4;
    version.lVal = 0x400 | 0x102;  // the engine's HTML flag and its ES5 version
    property->SetProperty(SCRIPTPROP_INVOKEVERSIONING, nullptr, &version);
}

BSTR NewBstr(const std::wstring& text) { return SysAllocStringLen(text.data(), static_cast<UINT>(text.size())); }

// A script argument as text ("" for none); JScript passes the last argument first.
std::wstring ArgumentText(const DISPPARAMS* params, UINT index) {
    if (!params || index >= params->cArgs) return std::wstring();
    UniqueVariant text;
    VARIANT* argument = &params->rgvarg[params->cArgs - 1 - index];
    if (FAILED(VariantChangeType(text.get(), argument, 0, VT_BSTR))) return std::wstring();
    return std::wstring(text->bstrVal, SysStringLen(text->bstrVal));
}

// An object with IDispatch (and Interface, derived from it) and members by name; the derived
// class says what they do.
template <class Interface>
class ScriptObjectOf : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !(extra_ && IsEqualIID(riid, *extra_))) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (size_t m = 0; names[i] && m < members_.size(); ++m) {
                if (std::wcscmp(names[i], members_[m]) == 0) ids[i] = static_cast<DISPID>(m + 1);
            }
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

protected:
    // extra: the id of Interface, when it is more than IDispatch.
    explicit ScriptObjectOf(std::vector<const wchar_t*> members, const IID* extra = nullptr)
        : members_(std::move(members)), extra_(extra) {}
    virtual ~ScriptObjectOf() = default;

private:
    ULONG references_ = 1;
    std::vector<const wchar_t*> members_;
    const IID* extra_;
};
using ScriptObject = ScriptObjectOf<IDispatch>;

// What a browser's script engine hands the objects it calls as their caller: asked for the
// window service, it names the window whose script calls.
class CallerServices final : public IServiceProvider {
public:
    explicit CallerServices(ComPtr<IDispatch> window) : window_(std::move(window)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IServiceProvider)) return E_NOINTERFACE;
        *ppv = static_cast<IServiceProvider*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualGUID(service, kIidHtmlWindow2) || !window_) return E_NOINTERFACE;
        return window_->QueryInterface(riid, ppv);
    }

private:
    ~CallerServices() = default;
    ULONG references_ = 1;
    ComPtr<IDispatch> window_;
};

// document.getElementById(id): the element's text and value.
class Element final : public ScriptObject {
public:
    Element(Page* page, std::wstring id)
        : ScriptObject({L"textContent", L"innerText", L"value", L"id"}),
          page_(ComPtr<Page>::From(page)),
          id_(std::move(id)) {}
    STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        HtmlElement& element = page_->Model().elements[id_];
        std::wstring& field = member == 3 ? element.value : element.text;
        if (member < 1 || member > 4) return DISP_E_MEMBERNOTFOUND;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (member == 4) return DISP_E_MEMBERNOTFOUND;
            field = ArgumentText(params, 0);
            page_->Changed();
            return S_OK;
        }
        if (result) {
            result->vt = VT_BSTR;
            result->bstrVal = NewBstr(member == 4 ? id_ : field);
        }
        return S_OK;
    }

private:
    ComPtr<Page> page_;
    std::wstring id_;
};

// The container's external object, called as a browser calls it: every method call also asks
// for a property value (DISPATCH_METHOD | DISPATCH_PROPERTYGET), every argument arrives by
// reference (VT_BYREF | VT_VARIANT) to a copy the browser owns, and an object with IDispatchEx
// is called through InvokeEx with a caller naming the calling document's window.
class ExternalCaller final : public ScriptObject {
public:
    ExternalCaller(ComPtr<IDispatch> target, ComPtr<IDispatch> window)
        : ScriptObject({}), target_(std::move(target)), window_(std::move(window)) {}
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
        return target_->GetIDsOfNames(riid, names, count, locale, ids);
    }
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override {
        if (!(flags & DISPATCH_METHOD) || !params) {
            return target_->Invoke(member, riid, locale, flags, params, result, exception, argumentError);
        }
        const UINT count = params->cArgs;
        std::vector<VARIANT> values(count), slots(count);
        for (UINT i = 0; i < count; ++i) {
            VariantInit(&values[i]);
            if (i < params->cNamedArgs) {
                slots[i] = params->rgvarg[i];  // named arguments pass as they came
                continue;
            }
            VariantCopy(&values[i], &params->rgvarg[i]);
            slots[i].vt = VT_BYREF | VT_VARIANT;
            slots[i].pvarVal = &values[i];
        }
        DISPPARAMS byReference{count ? slots.data() : nullptr, params->rgdispidNamedArgs, count, params->cNamedArgs};
        // Held for the call: the page may let go of its external object meanwhile.
        const ComPtr<IDispatch> target = target_.Copy();
        ComPtr<IDispatchEx> extended;
        HRESULT hr;
        if (SUCCEEDED(target.As(extended)) && extended) {
            const ComPtr<IServiceProvider> caller =
                ComPtr<IServiceProvider>::Attach(new CallerServices(window_.Copy()));
            hr = extended->InvokeEx(member, locale, flags | DISPATCH_PROPERTYGET, &byReference, result, exception,
                                    caller.get());
        } else {
            hr = target->Invoke(member, riid, locale, flags | DISPATCH_PROPERTYGET, &byReference, result, exception,
                                argumentError);
        }
        for (VARIANT& value : values) VariantClear(&value);
        return hr;
    }

private:
    ComPtr<IDispatch> target_;
    ComPtr<IDispatch> window_;  // the calling page's
};

// window: external, document, the timers and alert; to the container an IHTMLWindow2 whose
// document is the page's (everything else of that interface answers E_NOTIMPL).
class WindowObject final : public ScriptObjectOf<HtmlWindow2Stubs> {
public:
    explicit WindowObject(Page* page)
        : ScriptObjectOf(
              {L"external", L"document", L"setInterval", L"setTimeout", L"clearInterval", L"clearTimeout", L"alert"},
              &kIidHtmlWindow2),
          page_(page) {}
    void Detach() { page_ = nullptr; }
    STDMETHODIMP get_document(IHTMLDocument2** document) override {
        if (!document) return E_POINTER;
        *document = nullptr;
        const ComPtr<IDispatch> object = page_ ? page_->Document() : nullptr;
        return object ? object->QueryInterface(kIidHtmlDocument2, reinterpret_cast<void**>(document)) : E_FAIL;
    }
    STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (member < 1 || member > 7) return DISP_E_MEMBERNOTFOUND;
        if (result) VariantInit(result);
        if (!page_) return E_UNEXPECTED;
        if (member <= 2) {
            ComPtr<IDispatch> object = member == 1 ? page_->External() : page_->Document();
            if (result) {
                result->vt = object ? VT_DISPATCH : VT_NULL;
                result->pdispVal = object.detach();
            }
            return S_OK;
        }
        if (!(flags & DISPATCH_METHOD)) {
            // Asked whether the method exists, as pages do before calling it.
            if (result) {
                result->vt = VT_BOOL;
                result->boolVal = VARIANT_TRUE;
            }
            return S_OK;
        }
        const UINT count = params ? params->cArgs : 0;
        if (member == 7) {
            // As a browser shows it: a modal message box over the browser's window, the script
            // waiting until it is closed. The page may be gone by then.
            const std::wstring text = count >= 1 ? ArgumentText(params, count - 1) : std::wstring();
            const HWND owner = page_->Window();
            MessageBoxW(owner ? GetAncestor(owner, GA_ROOT) : nullptr, text.c_str(), L"Message from webpage",
                        MB_OK | MB_ICONWARNING);
            return S_OK;
        }
        if (member == 5 || member == 6) {
            if (count >= 1) page_->RemoveTimer(_wtol(ArgumentText(params, 0).c_str()));
            return S_OK;
        }
        VARIANT* function = count >= 1 ? &params->rgvarg[count - 1] : nullptr;
        if (!function || function->vt != VT_DISPATCH || !function->pdispVal) return E_INVALIDARG;
        const long id =
            page_->AddTimer(function->pdispVal, static_cast<UINT>(_wtol(ArgumentText(params, 1).c_str())), member == 3);
        if (result) {
            result->vt = VT_I4;
            result->lVal = id;
        }
        return S_OK;
    }

private:
    Page* page_;  // cleared when the page closes its engine
};

// The document: to scripts getElementById, title and URL; to the container IHTMLDocument2 with
// Script (everything else of that interface answers E_NOTIMPL).
class DocumentObject final : public HtmlDocument2Stubs {
public:
    explicit DocumentObject(Page* page) : page_(page) {}
    void Detach() { page_ = nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, kIidHtmlDocument) && !IsEqualIID(riid, kIidHtmlDocument2)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IHTMLDocument2*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const wchar_t* const kMembers[] = {L"getElementById", L"title", L"URL"};
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (DISPID m = 0; names[i] && m < 3; ++m)
                if (std::wcscmp(names[i], kMembers[m]) == 0) ids[i] = m + 1;
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (member < 1 || member > 3) return DISP_E_MEMBERNOTFOUND;
        if (!result) return S_OK;
        VariantInit(result);
        if (!page_) return E_UNEXPECTED;
        if (member == 1 && !(flags & DISPATCH_METHOD)) {
            // Asked whether the method exists, as pages do before calling it.
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
            return S_OK;
        }
        if (member == 1) {
            const std::wstring id = ArgumentText(params, 0);
            if (page_->Model().elements.count(id) == 0) {
                result->vt = VT_NULL;
                return S_OK;
            }
            result->vt = VT_DISPATCH;
            result->pdispVal = new Element(page_, id);
            return S_OK;
        }
        result->vt = VT_BSTR;
        result->bstrVal = NewBstr(member == 2 ? page_->Model().title : page_->Location());
        return S_OK;
    }

    STDMETHODIMP get_Script(IDispatch** script) override {
        if (!script) return E_POINTER;
        *script = page_ ? page_->ScriptObject().detach() : nullptr;
        return *script ? S_OK : S_FALSE;
    }
    STDMETHODIMP get_title(BSTR* title) override {
        if (!title) return E_POINTER;
        *title = NewBstr(page_ ? page_->Model().title : std::wstring());
        return S_OK;
    }
    STDMETHODIMP get_URL(BSTR* url) override {
        if (!url) return E_POINTER;
        *url = NewBstr(page_ ? page_->Location() : std::wstring());
        return S_OK;
    }
    STDMETHODIMP get_parentWindow(IHTMLWindow2** window) override {
        if (!window) return E_POINTER;
        *window = nullptr;
        const ComPtr<IDispatch> object = page_ ? page_->ScriptWindow() : nullptr;
        return object ? object->QueryInterface(kIidHtmlWindow2, reinterpret_cast<void**>(window)) : E_FAIL;
    }

private:
    virtual ~DocumentObject() = default;
    ULONG references_ = 1;
    Page* page_;  // cleared when the page closes its engine
};

// The engine's global object as the container gets it: every call into the page is counted, so
// that a page ended during its own call closes its engine only after the call.
class ScriptGate final : public ScriptObject {
public:
    ScriptGate(Page* page, ComPtr<IDispatch> global)
        : ScriptObject({}), page_(ComPtr<Page>::From(page)), global_(std::move(global)) {}
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
        return global_->GetIDsOfNames(riid, names, count, locale, ids);
    }
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override {
        page_->Enter();
        const HRESULT hr = global_->Invoke(member, riid, locale, flags, params, result, exception, argumentError);
        page_->Leave();
        return hr;
    }

private:
    ComPtr<Page> page_;
    ComPtr<IDispatch> global_;
};

}  // namespace

Page::Page(PageOwner* owner, std::wstring location, HtmlPage model, int frameDepth)
    : owner_(owner), location_(std::move(location)), model_(std::move(model)), frameDepth_(frameDepth) {}

Page::~Page() { CloseEngine(); }

STDMETHODIMP Page::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, kIidActiveScriptSite)) return E_NOINTERFACE;
    *ppv = static_cast<IActiveScriptSite*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) Page::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

void Page::Start() {
    document_ = ComPtr<IDispatch>::Attach(new DocumentObject(this));
    window_ = ComPtr<IDispatch>::Attach(new WindowObject(this));
    bool started =
        SUCCEEDED(CoCreateInstance(kClsidJScript, nullptr, CLSCTX_INPROC_SERVER, kIidActiveScript, engine_.put_void()));
    started = started && SUCCEEDED(engine_->QueryInterface(kIidActiveScriptParse, parse_.put_void()));
    if (started) UseDocumentLanguage(engine_.get());
    started = started && SUCCEEDED(engine_->SetScriptSite(this)) && SUCCEEDED(parse_->InitNew());
    if (!started) {
        errors_.push_back(L"the script engine did not start");
        // Not closed: Wine's engine must not be closed before it was initialised.
        parse_.reset();
        engine_.reset();
        return;
    }
    // window's members are globals too (setInterval, ...), as in a browser.
    engine_->AddNamedItem(L"window", SCRIPTITEM_ISVISIBLE | SCRIPTITEM_GLOBALMEMBERS);
    for (const wchar_t* item : {L"document", L"external"}) engine_->AddNamedItem(item, SCRIPTITEM_ISVISIBLE);
    engine_->SetScriptState(SCRIPTSTATE_CONNECTED);
    engine_->GetScriptDispatch(nullptr, global_.put());
    for (const std::wstring& script : model_.scripts) Run(script, nullptr);
    // The frames load once the page's own scripts have run, each a page of its own.
    for (const std::wstring& source : frameDepth_ < kDeepestFrame ? model_.frames : std::vector<std::wstring>()) {
        std::wstring location, html;
        LoadDocument(source, location, html);
        frames_.push_back(ComPtr<Page>::Attach(new Page(this, location, ParseHtml(html), frameDepth_ + 1)));
        frames_.back()->Start();
    }
}

bool Page::Run(const std::wstring& code, std::wstring* value) {
    if (!parse_) return false;
    // Held: the page may be let go of while its code runs.
    const ComPtr<Page> self = ComPtr<Page>::From(this);
    const ComPtr<IActiveScriptParse> parse = parse_.Copy();
    Enter();
    EXCEPINFO exception{};
    UniqueVariant result;
    const HRESULT hr = parse->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                              value ? SCRIPTTEXT_ISEXPRESSION : SCRIPTTEXT_ISVISIBLE,
                                              value ? result.get() : nullptr, &exception);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    Leave();
    if (value) {
        value->clear();
        UniqueVariant text;
        if (SUCCEEDED(hr) && result->vt == VT_BOOL) {
            value->assign(result->boolVal ? L"true" : L"false");  // as the script writes them
        } else if (SUCCEEDED(hr) && result->vt != VT_EMPTY &&
                   SUCCEEDED(VariantChangeType(text.get(), result.get(), 0, VT_BSTR)))
            value->assign(text->bstrVal, SysStringLen(text->bstrVal));
    }
    return SUCCEEDED(hr);
}

void Page::Leave() {
    if (--depth_ == 0 && shutdownPending_) CloseEngine();
}

void Page::Shutdown() {
    for (const ComPtr<Page>& frame : frames_) frame->Shutdown();
    frames_.clear();
    if (owner_) {
        if (const HWND window = owner_->PageWindow()) {
            for (const auto& timer : timers_) KillTimer(window, static_cast<UINT_PTR>(timer.first));
        }
    }
    owner_ = nullptr;
    timers_.clear();
    if (depth_ > 0) {
        shutdownPending_ = true;
    } else {
        CloseEngine();
    }
}

void Page::CloseEngine() {
    shutdownPending_ = false;
    for (const ComPtr<Page>& frame : frames_) frame->Shutdown();
    frames_.clear();
    if (auto* document = static_cast<DocumentObject*>(static_cast<IHTMLDocument2*>(document_.get())))
        document->Detach();
    if (auto* window = static_cast<WindowObject*>(window_.get())) window->Detach();
    const ComPtr<IActiveScript> engine = std::move(engine_);
    parse_.reset();
    global_.reset();
    if (engine) engine->Close();
    external_.reset();
    document_.reset();
    window_.reset();
}

ComPtr<IDispatch> Page::Document() { return document_.Copy(); }
ComPtr<IDispatch> Page::ScriptWindow() { return window_.Copy(); }

bool Page::FrameScript(size_t index, const std::wstring& code, std::wstring* value) {
    const ComPtr<Page> frame = index < frames_.size() ? frames_[index].Copy() : nullptr;
    return frame && frame->Run(code, value);
}

ComPtr<IDispatch> Page::ScriptObject() {
    if (!global_) return nullptr;
    return ComPtr<IDispatch>::Attach(new ScriptGate(this, global_.Copy()));
}

ComPtr<IDispatch> Page::External() {
    if (!externalAsked_ && owner_ && owner_->DocumentHost()) {
        externalAsked_ = true;
        owner_->CountExternalRequest();
        ComPtr<IDispatch> external;
        if (SUCCEEDED(owner_->DocumentHost()->GetExternal(external.put())) && external) {
            external_ = ComPtr<IDispatch>::Attach(new ExternalCaller(std::move(external), window_.Copy()));
        }
    }
    return external_.Copy();
}

long Page::AddTimer(IDispatch* function, UINT milliseconds, bool repeat) {
    const HWND window = owner_ ? owner_->PageWindow() : nullptr;
    if (!window) return 0;
    const long id = nextTimer_++;
    timers_[id] = Timer{ComPtr<IDispatch>::From(function), repeat};
    SetTimer(window, static_cast<UINT_PTR>(id), milliseconds < 10 ? 10 : milliseconds, nullptr);
    return id;
}

void Page::RemoveTimer(long id) {
    if (timers_.erase(id) && owner_ && owner_->PageWindow()) KillTimer(owner_->PageWindow(), static_cast<UINT_PTR>(id));
}

void Page::OnTimer(UINT_PTR id) {
    const auto found = timers_.find(static_cast<long>(id));
    if (found == timers_.end()) return;
    const ComPtr<IDispatch> function = found->second.function.Copy();
    if (!found->second.repeat) RemoveTimer(static_cast<long>(id));
    const ComPtr<Page> self = ComPtr<Page>::From(this);
    DISPPARAMS none{};
    Enter();
    function->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    Leave();
}

void Page::Changed() {
    if (owner_) owner_->PageChanged();
}

STDMETHODIMP Page::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type) {
    if (type) *type = nullptr;
    if (item) *item = nullptr;
    if (!name) return E_INVALIDARG;
    ComPtr<IDispatch> object;
    if (std::wcscmp(name, L"window") == 0) {
        object = window_.Copy();
    } else if (std::wcscmp(name, L"document") == 0) {
        object = document_.Copy();
    } else if (std::wcscmp(name, L"external") == 0) {
        object = External();
    }
    if (!object) return TYPE_E_ELEMENTNOTFOUND;
    if ((mask & SCRIPTINFO_IUNKNOWN) && item) *item = object.detach();
    return S_OK;
}

STDMETHODIMP Page::OnScriptError(IActiveScriptError* error) {
    if (!error) return S_OK;
    EXCEPINFO info{};
    error->GetExceptionInfo(&info);
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    error->GetSourcePosition(&context, &line, &column);
    std::wstring text = L"line " + std::to_wstring(line + 1) + L": ";
    text += info.bstrDescription ? info.bstrDescription : L"(no description)";
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    errors_.push_back(text);
    return S_OK;
}

}  // namespace sv::standin
