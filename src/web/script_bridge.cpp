#include "web/script_bridge.h"

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <string>

#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/qi_table.h"
#include "base/ui_thread.h"
#include "base/utf.h"
#include "settings/settings.h"
#include "web/web_browser.h"

namespace sv {
namespace {

const wchar_t* const kMemberNames[CWebIDispatch::kMemberCount] = {
    L"IsOskelSonavire",       L"OnYouTubePlayOpen", L"OnYouTubePlayStart",      L"OnYouTubePlayPause",
    L"OnYouTubePlayStop",     L"OnYouTubePlayEnd",  L"OnYouTubePositionChange", L"OnYouTubeShowLyrics",
    L"OnYouTubeGetMediaInfo", L"OnYouTubeSetUser"};

// A by-reference argument, as a browser passes them, is read through its reference; a
// reference to a reference as well, a few levels deep.
const VARIANT* Dereference(const VARIANT* value) {
    for (int level = 0; value && value->vt == (VT_BYREF | VT_VARIANT) && level < 4; ++level) value = value->pvarVal;
    return value && value->vt != (VT_BYREF | VT_VARIANT) ? value : nullptr;
}

bool IsNumber(VARTYPE type) {
    switch (type & ~VT_BYREF) {
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_I8:
        case VT_INT:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UI8:
        case VT_UINT:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DECIMAL:
            return true;
        default:
            return false;
    }
}

std::u16string U16(const std::wstring& text) { return std::u16string(AsU16View(text.data(), text.size())); }

struct NestingGuard {
    int& depth;
    explicit NestingGuard(int& d) : depth(d) { ++depth; }
    ~NestingGuard() { --depth; }
};

}  // namespace

// The positional arguments of one call in script order (the parameters hold the last first;
// named arguments, which come before them, are not read).
class CWebIDispatch::Arguments {
public:
    explicit Arguments(const DISPPARAMS* params) {
        if (params && params->rgvarg && params->cArgs > params->cNamedArgs) {
            slots_ = params->rgvarg;
            total_ = params->cArgs;
            count_ = params->cArgs - params->cNamedArgs;
        }
    }
    UINT Count() const { return count_; }
    // Script argument i (0 the first), dereferenced; null when there is none.
    const VARIANT* At(UINT i) const { return i < count_ ? Dereference(&slots_[total_ - 1 - i]) : nullptr; }
    const VARIANT* Last() const { return count_ ? At(count_ - 1) : nullptr; }

    // A string as its text. Numbers become their text too; anything else (null, undefined,
    // objects, arrays) is no text. False when the argument is not a string.
    bool Text(UINT i, std::wstring& text) const {
        text.clear();
        const VARIANT* value = At(i);
        if (!value) return false;
        if (value->vt == VT_BSTR || value->vt == (VT_BYREF | VT_BSTR)) {
            const BSTR b = value->vt == VT_BSTR ? value->bstrVal : (value->pbstrVal ? *value->pbstrVal : nullptr);
            if (b) text.assign(b, SysStringLen(b));
            return true;
        }
        if (IsNumber(value->vt)) {
            UniqueVariant converted;
            if (SUCCEEDED(
                    VariantChangeTypeEx(converted.get(), const_cast<VARIANT*>(value), LOCALE_INVARIANT, 0, VT_BSTR))) {
                text.assign(converted->bstrVal, SysStringLen(converted->bstrVal));
            }
        }
        return false;
    }

private:
    VARIANTARG* slots_ = nullptr;
    UINT total_ = 0;
    UINT count_ = 0;
};

CWebIDispatch::CWebIDispatch(std::function<BridgeTarget*()> liveTarget, std::function<bool()> trusted)
    : liveTarget_(std::move(liveTarget)), trusted_(std::move(trusted)) {}

STDMETHODIMP CWebIDispatch::QueryInterface(REFIID riid, void** ppv) {
    static const InterfaceMapEntry kInterfaces[] = {
        SV_INTERFACE_ENTRY(CWebIDispatch, IDispatch),
        SV_INTERFACE_MAP_END,
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) CWebIDispatch::AddRef() { return static_cast<ULONG>(++references_); }
STDMETHODIMP_(ULONG) CWebIDispatch::Release() { return static_cast<ULONG>(--references_); }

STDMETHODIMP CWebIDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count == 0) return S_OK;
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (int m = 0; names[i] && m < kMemberCount; ++m) {
            if (std::wcscmp(names[i], kMemberNames[m]) == 0) {
                ids[i] = m + 1;
                break;
            }
        }
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP CWebIDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) {
    SV_ASSERT_UI_THREAD();
    // Outside any pane nobody can tell which document calls.
    bool trusted = false;
    if (trusted_) {
        CallbackBoundary("script bridge", [&] { trusted = trusted_(); });
    }
    return Call(id, flags, params, result, trusted);
}

HRESULT CWebIDispatch::Call(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, bool trusted, bool act) {
    if (id < 1 || id > kMemberCount) return S_OK;
    // Word 1, as the pages have always been answered (not VARIANT_TRUE).
    const bool answerTrue = result && ((flags & DISPATCH_PROPERTYGET) || id == kIsOskelSonavire);
    if (answerTrue) {
        VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal = 1;
    }
    if (!act || !(flags & DISPATCH_METHOD) || depth_ >= kMostNestedCalls) return S_OK;
    CallbackBoundary("script bridge", [&] {
        NestingGuard nested(depth_);
        Act(id, Arguments(params), trusted);
    });
    return S_OK;
}

void CWebIDispatch::Act(DISPID id, const Arguments& arguments, bool trusted) {
    BridgeTarget* target = nullptr;
    switch (id) {
        case kOnYouTubePlayOpen:
            PlayOpen(arguments);
            return;
        case kOnYouTubePlayStart:
            if ((target = Target())) target->PagePlayStateChanged(PagePlayState::Playing);
            return;
        case kOnYouTubePlayPause:
            if ((target = Target())) target->PagePlayStateChanged(PagePlayState::Paused);
            return;
        case kOnYouTubePlayStop:
            if ((target = Target())) target->PagePlayStateChanged(PagePlayState::Stopped);
            return;
        case kOnYouTubePlayEnd:
            if ((target = Target())) target->PagePlayStateChanged(PagePlayState::MediaEnded);
            return;
        case kOnYouTubePositionChange:
            // The values carry no meaning: the plug-in reads the page's position itself.
            if ((target = Target())) target->PagePositionChanged();
            return;
        case kOnYouTubeShowLyrics:
            ShowLyrics(arguments);
            return;
        case kOnYouTubeGetMediaInfo:
            GetMediaInfo(arguments, trusted);
            return;
        case kOnYouTubeSetUser:
            SetUser(arguments, trusted);
            return;
        default:
            return;
    }
}

void CWebIDispatch::PlayOpen(const Arguments& arguments) {
    LyricsDocument& page = pageDocument_;
    std::wstring artist, title, videoId, language;
    if (arguments.Count() == 2 || arguments.Count() == 4) {
        arguments.Text(0, artist);
        arguments.Text(1, title);
        if (arguments.Count() == 4) {
            arguments.Text(2, videoId);
            arguments.Text(3, language);
        }
        page.SetLanguage(U16(language));
        page.SetVideoId(U16(videoId));
        page.SetTitle(U16(title));
        page.SetArtist(U16(artist));
    }
    page.SetAlbum(u"");
    page.sourceKind = MediaSource::VideoPage;
    page.status = LyricsStatus::NotFound;
    if (BridgeTarget* target = Target()) target->PageMediaOpened(page);
}

void CWebIDispatch::ShowLyrics(const Arguments& arguments) {
    // The flag as the page's script reads it: false, 0, an empty text, null or undefined hide.
    const VARIANT* flag = arguments.Last();
    if (!flag) return;
    bool show;
    const VARTYPE type = flag->vt;
    if (type == VT_BOOL || type == (VT_BYREF | VT_BOOL)) {
        show = (type == VT_BOOL ? flag->boolVal : (flag->pboolVal ? *flag->pboolVal : 0)) != 0;
    } else if (IsNumber(type)) {
        UniqueVariant number;
        if (FAILED(VariantChangeType(number.get(), const_cast<VARIANT*>(flag), 0, VT_R8))) return;
        show = number->dblVal != 0.0 && !std::isnan(number->dblVal);
    } else if (type == VT_BSTR) {
        show = SysStringLen(flag->bstrVal) > 0;
    } else if (type == VT_EMPTY || type == VT_NULL) {
        show = false;
    } else if (type == VT_DISPATCH || type == VT_UNKNOWN) {
        show = flag->punkVal != nullptr;
    } else {
        return;
    }
    if (BridgeTarget* target = Target()) target->PageShowsLyrics(show);
}

void CWebIDispatch::GetMediaInfo(const Arguments& arguments, bool trusted) {
    const VARIANT* last = arguments.Last();
    IDispatch* given = nullptr;
    if (last && last->vt == VT_DISPATCH) given = last->pdispVal;
    if (last && last->vt == (VT_BYREF | VT_DISPATCH) && last->ppdispVal) given = *last->ppdispVal;
    if (!given) return;
    // The page's array may run script while it is read; it stays alive for the whole call.
    const ComPtr<IDispatch> array = ComPtr<IDispatch>::From(given);

    const auto idOf = [&](const wchar_t* member, DISPID& id) {
        LPOLESTR name = const_cast<LPOLESTR>(member);
        return SUCCEEDED(array->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    };
    // A page's getter that throws fails that read only; the bridge takes the exception (and
    // frees its texts).
    const auto invoke = [&](DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
        EXCEPINFO exception{};
        const HRESULT hr = array->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &exception, nullptr);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        return SUCCEEDED(hr);
    };
    const auto read = [&](DISPID id, UniqueVariant& value) {
        DISPPARAMS none{};
        return invoke(id, DISPATCH_PROPERTYGET, &none, value.put());
    };

    DISPID lengthId = DISPID_UNKNOWN;
    UniqueVariant length;
    if (!idOf(L"length", lengthId) || !read(lengthId, length)) return;
    // The low 16 bits, signed: at most 32767 elements are read, and a length that is no whole
    // number (or none that fits) reads none.
    if (FAILED(VariantChangeType(length.get(), length.get(), 0, VT_I4))) return;
    const int count = static_cast<int16_t>(static_cast<uint32_t>(length->lVal) & 0xFFFFu);

    for (int i = 0; i < count; ++i) {
        wchar_t index[16];
        std::swprintf(index, 16, L"%d", i);
        DISPID element = DISPID_UNKNOWN;
        UniqueVariant key;
        if (!idOf(index, element) || !read(element, key)) continue;
        const VARIANT* text = Dereference(key.get());
        if (!text) continue;
        BSTR keyText = text->vt == VT_BSTR                                  ? text->bstrVal
                       : text->vt == (VT_BYREF | VT_BSTR) && text->pbstrVal ? *text->pbstrVal
                                                                            : nullptr;
        if (!(text->vt == VT_BSTR || text->vt == (VT_BYREF | VT_BSTR)) || !keyText) continue;
        UniqueBstr value;
        if (!ValueOfKey(keyText, SysStringLen(keyText), trusted, value.put())) continue;
        VARIANT argument;
        argument.vt = VT_BSTR;
        argument.bstrVal = value.get();
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put{&argument, &named, 1, 1};
        invoke(element, DISPATCH_PROPERTYPUT, &put, nullptr);
    }
}

bool CWebIDispatch::ValueOfKey(const wchar_t* key, UINT keyLength, bool trusted, BSTR* value) {
    enum Source { kArtist, kTitle, kAlbum, kLanguage, kUserName, kPassword, kVersion, kDeviceText };
    static const struct {
        const wchar_t* name;
        Source source;
    } kKeys[] = {{L"track_artist", kArtist}, {L"track_title", kTitle},  {L"track_album", kAlbum},
                 {L"track_lang", kLanguage}, {L"user_name", kUserName}, {L"user_password", kPassword},
                 {L"sys_version", kVersion}, {L"sys_type", kDeviceText}};
    for (const auto& known : kKeys) {
        if (CompareStringOrdinal(key, static_cast<int>(keyLength), known.name, -1, TRUE) != CSTR_EQUAL) continue;
        std::u16string text;
        BridgeTarget* target = nullptr;
        const LyricsDocument* request = nullptr;
        switch (known.source) {
            case kArtist:
            case kTitle:
            case kAlbum:
            case kLanguage:
                // Without a main window there is no track: the keys read empty; and what the user
                // listens to is for the trusted pages only.
                if (!trusted) break;
                target = Target();
                request = target ? target->CurrentRequestDocument() : nullptr;
                if (request) {
                    text = known.source == kArtist  ? request->Artist()
                           : known.source == kTitle ? request->Title()
                           : known.source == kAlbum ? request->Album()
                                                    : request->Language();
                }
                break;
            case kUserName:
            case kPassword:
                // Only trusted pages (the community site's, the plug-in's own offline pages) see them.
                if (trusted) {
                    const PluginSettings& settings = Settings();
                    if (known.source == kUserName) {
                        text.assign(AsU16(settings.userName));
                    } else {
                        std::wstring password = settings.RevealPassword();
                        text.assign(AsU16View(password.data(), password.size()));
                        SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
                    }
                }
                break;
            case kVersion:
                text.assign(AsU16(kBridgeVersionText));
                break;
            case kDeviceText:
                text.assign(AsU16(Settings().deviceText));
                break;
        }
        *value = SysAllocStringLen(AsWide(text.c_str()), static_cast<UINT>(text.size()));
        if (!*value) ThrowHr(E_OUTOFMEMORY);
        return true;
    }
    return false;
}

void CWebIDispatch::SetUser(const Arguments& arguments, bool trusted) {
    if (arguments.Count() != 2) return;
    std::wstring name, password;
    // Both must be texts: null or an object for a password is not an empty password.
    if (!arguments.Text(0, name) || !arguments.Text(1, password)) return;
    if (!trusted) return;
    Settings().SetCredentials(name, password);
}

BridgeTarget* CWebIDispatch::Target() const { return liveTarget_ ? liveTarget_() : nullptr; }

// ---------------------------------------------------------------------------------------------
// One pane's external object.

CPaneExternal::CPaneExternal(CWebIDispatch& bridge, CWebBrowser2* browser) : bridge_(bridge), browser_(browser) {
    // The module stays while a page holds this object (DllCanUnloadNow reads the bridge's count).
    bridge_.AddRef();
}

CPaneExternal::~CPaneExternal() { bridge_.Release(); }

STDMETHODIMP CPaneExternal::QueryInterface(REFIID riid, void** ppv) {
    static const InterfaceMapEntry kInterfaces[] = {
        SV_INTERFACE_ENTRY(CPaneExternal, IDispatchEx),
        SV_INTERFACE_ENTRY(CPaneExternal, IDispatch),
        SV_INTERFACE_MAP_END,
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) CPaneExternal::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) CPaneExternal::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP CPaneExternal::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
    return bridge_.GetIDsOfNames(riid, names, count, locale, ids);
}

STDMETHODIMP CPaneExternal::GetDispID(BSTR name, DWORD, DISPID* id) {
    if (!id) return E_POINTER;
    LPOLESTR names = name;
    return bridge_.GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, id);
}

STDMETHODIMP CPaneExternal::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) {
    return Dispatch(id, flags, params, result, nullptr);
}

STDMETHODIMP CPaneExternal::InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     IServiceProvider* caller) {
    return Dispatch(id, flags, params, result, caller);
}

STDMETHODIMP CPaneExternal::GetNameSpaceParent(IUnknown** parent) {
    if (parent) *parent = nullptr;
    return E_NOTIMPL;
}

HRESULT CPaneExternal::Dispatch(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, IServiceProvider* caller) {
    SV_ASSERT_UI_THREAD();
    // Held for the call: the page may let go of this object while the call runs.
    const ComPtr<CPaneExternal> self = ComPtr<CPaneExternal>::From(this);
    bool trusted = false;
    if (browser_) CallbackBoundary("script bridge", [&] { trusted = browser_->TrustsCaller(caller); });
    return bridge_.Call(id, flags, params, result, trusted, browser_ != nullptr);
}

}  // namespace sv
