// The video theatre page's script in the script engine the plug-in's pages run in (JScript):
// it must parse as plain ES3, answer the plug-in's page functions and call window.external's
// members with the arguments the bridge expects. Runs under Wine against the stand-in.
#include <windows.h>
#include <activscp.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "active_script_ids.h"
#include "base/com_ptr.h"
#include "base/utf.h"
#include "standin_client.h"

namespace {

using sv::standin::kClsidJScript;
using sv::standin::kIidActiveScript;
using sv::standin::kIidActiveScriptParse;
using sv::standin::kIidActiveScriptSite;

std::string Utf8(const wchar_t* text, size_t length) { return sv::Utf8FromUtf16(sv::AsU16View(text, length)); }
std::wstring Wide(const std::string& text) {
    const std::u16string u16 = sv::Utf16FromUtf8(text);
    return std::wstring(u16.begin(), u16.end());
}

std::string VariantText(const VARIANT& value) {
    if (value.vt == VT_BOOL) return value.boolVal ? "true" : "false";
    sv::UniqueVariant text;
    if (FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
        return "(vt " + std::to_string(value.vt) + ")";
    return Utf8(text->bstrVal, SysStringLen(text->bstrVal));
}

// window.external as the plug-in's bridge shows it: ten members, each call recorded as
// "Name|arg|arg"; reading a member as a property answers true.
class RecordingExternal : public IDispatch {
public:
    std::vector<std::string> calls;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        HRESULT result = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (size_t m = 0; m < kMembers.size(); ++m) {
                if (wcscmp(names[i], kMembers[m]) == 0) ids[i] = static_cast<DISPID>(m + 1);
            }
            if (ids[i] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        if (id < 1 || id > static_cast<DISPID>(kMembers.size())) return DISP_E_MEMBERNOTFOUND;
        if ((flags & DISPATCH_PROPERTYGET) && result) {
            VariantInit(result);
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
        }
        if (!(flags & DISPATCH_METHOD)) return S_OK;
        const std::wstring name = kMembers[id - 1];
        std::string call = Utf8(name.c_str(), name.size());
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& argument = params->rgvarg[i];
            if (argument.vt == VT_DISPATCH && name == L"OnYouTubeGetMediaInfo") {
                call += "|" + FillMediaInfo(argument.pdispVal);
            } else {
                call += "|" + VariantText(argument);
            }
        }
        calls.push_back(call);
        return S_OK;
    }

private:
    // Replaces each key of the script's array by "value of KEY", as the bridge does.
    std::string FillMediaInfo(IDispatch* array) {
        const auto idOf = [&](const std::wstring& member) {
            DISPID id = DISPID_UNKNOWN;
            LPOLESTR name = const_cast<LPOLESTR>(member.c_str());
            array->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
            return id;
        };
        DISPPARAMS none{};
        sv::UniqueVariant length;
        if (FAILED(array->Invoke(idOf(L"length"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                 length.get(), nullptr, nullptr))) {
            return "(no length)";
        }
        const int count = std::stoi(VariantText(*length.get()));
        for (int i = 0; i < count; ++i) {
            const DISPID element = idOf(std::to_wstring(i));
            sv::UniqueVariant key;
            array->Invoke(element, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, key.get(), nullptr,
                          nullptr);
            sv::UniqueBstr value(Wide("value of " + VariantText(*key.get())).c_str());
            VARIANT argument;
            argument.vt = VT_BSTR;
            argument.bstrVal = value.get();
            DISPID named = DISPID_PROPERTYPUT;
            DISPPARAMS put{&argument, &named, 1, 1};
            array->Invoke(element, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                          nullptr);
        }
        return std::to_string(count) + " keys";
    }

    static inline const std::vector<const wchar_t*> kMembers = {
        L"IsOskelSonavire",       L"OnYouTubePlayOpen", L"OnYouTubePlayStart",      L"OnYouTubePlayPause",
        L"OnYouTubePlayStop",     L"OnYouTubePlayEnd",  L"OnYouTubePositionChange", L"OnYouTubeShowLyrics",
        L"OnYouTubeGetMediaInfo", L"OnYouTubeSetUser"};
    ULONG references_ = 1;
};

class ScriptSite : public IActiveScriptSite {
public:
    explicit ScriptSite(IDispatch* external) : external_(external) {}
    std::vector<std::string> errors;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidActiveScriptSite)) {
            *out = static_cast<IActiveScriptSite*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type) override {
        if (type) *type = nullptr;
        if (item) *item = nullptr;
        if (wcscmp(name, L"external") != 0) return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) && item) {
            external_->AddRef();
            *item = external_;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override {
        EXCEPINFO info{};
        error->GetExceptionInfo(&info);
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetSourcePosition(&context, &line, &column);
        const std::wstring text = info.bstrDescription ? info.bstrDescription : L"(no description)";
        errors.push_back("line " + std::to_string(line + 1) + ": " + Utf8(text.c_str(), text.size()));
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

private:
    IDispatch* external_;
};

std::string PageScript(const std::string& page) {
    std::string script;
    const std::string open = "<script type=\"text/javascript\">";
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at)) {
        at += open.size();
        const size_t end = page.find("</script>", at);
        script += page.substr(at, end - at) + "\n";
        at = end;
    }
    return script;
}

class TheatreScript : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        const std::string script = PageScript(svtest::StandinClient::FromEnvironment().Get("/wiki/wmp/"));
        ASSERT_NE(script.find("function getCurrentTime"), std::string::npos);
        ASSERT_HRESULT_SUCCEEDED(
            CoCreateInstance(kClsidJScript, nullptr, CLSCTX_INPROC_SERVER, kIidActiveScript, engine_.put_void()));
        sv::ComPtr<IActiveScriptParse> parse;
        ASSERT_HRESULT_SUCCEEDED(engine_->QueryInterface(kIidActiveScriptParse, parse.put_void()));
        ASSERT_HRESULT_SUCCEEDED(engine_->SetScriptSite(&site_));
        ASSERT_HRESULT_SUCCEEDED(parse->InitNew());
        ASSERT_HRESULT_SUCCEEDED(engine_->AddNamedItem(L"external", SCRIPTITEM_ISVISIBLE));
        const std::wstring code = Wide(script);
        EXCEPINFO exception{};
        ASSERT_HRESULT_SUCCEEDED(parse->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                                        SCRIPTTEXT_ISVISIBLE, nullptr, &exception));
        ASSERT_HRESULT_SUCCEEDED(engine_->SetScriptState(SCRIPTSTATE_CONNECTED));
        ASSERT_HRESULT_SUCCEEDED(engine_->GetScriptDispatch(nullptr, reinterpret_cast<IDispatch**>(global_.put())));
        ASSERT_TRUE(site_.errors.empty()) << site_.errors[0];
    }
    void TearDown() override {
        global_.reset();
        if (engine_) engine_->Close();
        engine_.reset();
        CoUninitialize();
    }

    // Calls a global function of the page with string arguments, as the browse pane does.
    std::string Call(const std::wstring& function, const std::vector<std::string>& arguments = {},
                     WORD flags = DISPATCH_METHOD) {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(function.c_str());
        EXPECT_HRESULT_SUCCEEDED(global_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id));
        std::vector<sv::UniqueVariant> values(arguments.size());
        std::vector<VARIANT> slots(arguments.size());
        for (size_t i = 0; i < arguments.size(); ++i) {  // the last argument stands first
            VARIANT& slot = slots[arguments.size() - 1 - i];
            slot.vt = VT_BSTR;
            slot.bstrVal = SysAllocString(Wide(arguments[i]).c_str());
            *values[i].get() = slot;
        }
        DISPPARAMS params{slots.empty() ? nullptr : slots.data(), nullptr, static_cast<UINT>(slots.size()), 0};
        sv::UniqueVariant result;
        EXPECT_HRESULT_SUCCEEDED(global_->Invoke(id, IID_NULL, 0, flags, &params, result.get(), nullptr, nullptr));
        EXPECT_TRUE(site_.errors.empty()) << site_.errors[0];
        return result->vt == VT_EMPTY ? "" : VariantText(*result.get());
    }
    double CurrentTime() { return std::stod(Call(L"getCurrentTime")); }

    RecordingExternal external_;
    ScriptSite site_{&external_};
    sv::ComPtr<IActiveScript> engine_;
    sv::ComPtr<IDispatch> global_;
};

TEST_F(TheatreScript, SimulatedVideoReportsItsEventsToTheBridge) {
    external_.calls.clear();
    Call(L"theatreOpen", {"Blue Harbour", "Night Train", "sv01", "de"});
    Call(L"theatrePlay");
    Call(L"theatrePause");
    Call(L"theatreSeek", {"42"});
    Call(L"theatreStop");
    Call(L"theatreEnd");
    Call(L"theatreShowLyrics", {""});
    Call(L"theatreSetUser", {"kestrel", "pw & more"});
    Call(L"theatreOpen", {"Only", "Two"}, DISPATCH_METHOD | DISPATCH_PROPERTYGET);  // as a browser calls
    const std::vector<std::string> expected = {"OnYouTubePlayOpen|Blue Harbour|Night Train|sv01|de",
                                               "OnYouTubePlayStart",
                                               "OnYouTubePlayPause",
                                               "OnYouTubePositionChange",
                                               "OnYouTubePlayStop",
                                               "OnYouTubePlayEnd",
                                               "OnYouTubeShowLyrics|false",
                                               "OnYouTubeSetUser|kestrel|pw & more",
                                               "OnYouTubePlayOpen|Only|Two"};
    EXPECT_EQ(external_.calls, expected);
    EXPECT_EQ(Call(L"theatreIsPlugin"), "true");
}

TEST_F(TheatreScript, MediaInfoReadsBackWhatTheBridgeWroteIntoTheArray) {
    const std::string info = Call(L"theatreMediaInfo");
    EXPECT_EQ(info,
              "value of track_artist\nvalue of track_title\nvalue of track_album\nvalue of track_lang\n"
              "value of user_name\nvalue of sys_version\nvalue of sys_type");
    ASSERT_FALSE(external_.calls.empty());
    EXPECT_EQ(external_.calls.back(), "OnYouTubeGetMediaInfo|7 keys");
}

TEST_F(TheatreScript, PageFunctionsAnswerThePlugInWithoutCallingBack) {
    external_.calls.clear();
    Call(L"OnMediaPlayerOpened", {"", "Traditional", "Amazing Grace"});
    Call(L"OnMediaPlayerStarted");
    Call(L"OnMediaPlayerPaused");
    Call(L"OnMediaPlayerStoped");
    Call(L"OnMediaPlayerEnded");
    Call(L"stop");
    EXPECT_TRUE(external_.calls.empty());
    EXPECT_EQ(Call(L"theatreCallLog"),
              "OnMediaPlayerOpened||Traditional|Amazing Grace\nOnMediaPlayerStarted\n"
              "OnMediaPlayerPaused\nOnMediaPlayerStoped\nOnMediaPlayerEnded\nstop");
}

TEST_F(TheatreScript, CurrentTimeFollowsPlaySeekAndPause) {
    EXPECT_EQ(CurrentTime(), 0.0);
    Call(L"theatreOpen", {"Blue Harbour", "The Long Road", "sv02", ""});
    Call(L"theatrePlay");
    Call(L"seekTo", {"30"});
    const double playing = CurrentTime();
    EXPECT_GE(playing, 30.0);
    EXPECT_LT(playing, 60.0);
    Call(L"theatrePause");
    const double paused = CurrentTime();
    EXPECT_EQ(CurrentTime(), paused);  // a paused video's clock stands still
    Call(L"seekTo", {"0"});
    EXPECT_EQ(CurrentTime(), 0.0);
    Call(L"stop");
    EXPECT_EQ(Call(L"theatreState"), "stopped");
}

}  // namespace

namespace {

// The client library over Winsock, as the Windows tests of every area use it.
TEST(StandinClientOnWindows, SendsRecordsAndSeesClosedConnections) {
    svtest::StandinClient client = svtest::StandinClient::FromEnvironment();
    client.ClearRequests();
    const std::string version = client.AddSongLrc("[ar:Wine Band]\n[ti:Sockets]\n[00:01.00]one\n[00:02.00]two\n");
    EXPECT_FALSE(version.empty());
    const std::string body("[00:03.00] one[00:04.00] two\0", 29);
    const svtest::HttpReply stored =
        client.Send("POST", "/sonavire/services/setLyrics.php?lang=&artist=Wine Band&title=Sockets", body);
    EXPECT_EQ(stored.status, 200);
    const auto recorded = client.WaitForRequests("/sonavire/services/setLyrics.php", 1);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].body, body);
    EXPECT_EQ(recorded[0].Query("artist"), "Wine Band");

    client.SetBehaviour("/sonavire/services/getSupportedLanguages.php", "close");
    EXPECT_FALSE(client.Send("GET", "/sonavire/services/getSupportedLanguages.php").answered);
    client.ResetBehaviours();
    EXPECT_NE(client.Get("/sonavire/services/getSupportedLanguages.php").find("Deutsch"), std::string::npos);
}

}  // namespace
