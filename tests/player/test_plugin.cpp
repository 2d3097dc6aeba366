#include "test_plugin.h"

#include <cstdio>

namespace svtest {
namespace {

std::string Format(const char* format, double a, double b) {
    char text[96];
    std::snprintf(text, sizeof(text), format, a, b);
    return text;
}

}  // namespace

std::vector<std::string> TestPlugin::TakeEvents() {
    std::vector<std::string> events;
    for (const std::string& entry : record) {
        if (entry.rfind("event ", 0) == 0) events.push_back(entry.substr(6));
    }
    record.clear();
    return events;
}

HRESULT TestPlugin::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    struct Entry {
        const IID* iid;
        IUnknown* (*cast)(TestPlugin*);
    };
    static const Entry table[] = {
        {&IID_IUnknown, [](TestPlugin* p) -> IUnknown* { return static_cast<IWMPEvents*>(p); }},
        {&sv::kIidWmpEvents, [](TestPlugin* p) -> IUnknown* { return static_cast<IWMPEvents*>(p); }},
        {&sv::kIidWmpPluginUi, [](TestPlugin* p) -> IUnknown* { return static_cast<IWMPPluginUI*>(p); }},
    };
    for (const Entry& entry : table) {
        if (iid == *entry.iid) {
            IUnknown* face = entry.cast(this);
            face->AddRef();
            *out = face;
            return S_OK;
        }
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

void TestPlugin::Unsubscribe() {
    if (!core) return;
    sv::ComPtr<IConnectionPointContainer> container;
    sv::ComPtr<IConnectionPoint> point;
    if (cookie && SUCCEEDED(core.As(container)) &&
        SUCCEEDED(container->FindConnectionPoint(sv::kIidWmpEvents, point.put()))) {
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
    }
    cookie = 0;
    controls.reset();
    core.reset();
}

HRESULT TestPlugin::SetCore(IWMPCore* newCore) {
    if (newCore) {
        CHECK_EXPECT(SetCore);
        record.push_back("SetCore(core)");
    } else {
        CHECK_EXPECT(SetCore_null);
        record.push_back("SetCore(null)");
    }
    Unsubscribe();
    if (!newCore) return S_OK;
    core = sv::ComPtr<IWMPCore>::From(newCore);
    EXPECT_EQ(core->get_controls(controls.put()), S_OK);
    sv::ComPtr<IConnectionPointContainer> container;
    HRESULT hr = core.As(container);
    if (FAILED(hr)) return hr;
    sv::ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(sv::kIidWmpEvents, point.put());
    if (FAILED(hr)) return hr;
    hr = point->Advise(static_cast<IWMPEvents*>(this), &cookie);
    if (SUCCEEDED(hr)) {
        EXPECT_NE(cookie, 0u);
    }
    return hr;
}

HRESULT TestPlugin::Create(HWND parent, HWND* made) {
    CHECK_EXPECT(Create);
    record.push_back("Create");
    if (!made) return E_POINTER;
    *made = nullptr;
    hostWindow = parent;
    if (FAILED(createResult)) return createResult;
    RECT host{};
    GetClientRect(parent, &host);
    window = CreateWindowExW(0, kPluginWindowClass, L"test plug-in", WS_CHILD | WS_VISIBLE, 0, 0, host.right,
                             host.bottom, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) return E_FAIL;
    *made = window;
    return S_OK;
}

HRESULT TestPlugin::Destroy() {
    CHECK_EXPECT(Destroy);
    record.push_back("Destroy");
    if (!window) return E_UNEXPECTED;
    DestroyWindow(window);
    window = nullptr;
    return S_OK;
}

void TestPlugin::OpenStateChange(LONG state) {
    record.push_back("event OpenStateChange(" + std::to_string(state) + ")");
}

void TestPlugin::PlayStateChange(LONG state) {
    record.push_back("event PlayStateChange(" + std::to_string(state) + ")");
    if (onPlayState) onPlayState(state);
}

void TestPlugin::PositionChange(double oldPosition, double newPosition) {
    record.push_back(Format("event PositionChange(%g,%g)", oldPosition, newPosition));
}

void TestPlugin::CurrentItemChange(IDispatch* media) {
    sv::ComPtr<IWMPMedia> item;
    const bool isItem = media && SUCCEEDED(media->QueryInterface(sv::kIidWmpMedia, item.put_void()));
    record.push_back(isItem ? "event CurrentItemChange(item)" : "event CurrentItemChange(?)");
}

HRESULT TestPluginFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        AddRef();
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT TestPluginFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto plugin = sv::ComPtr<TestPlugin>::Attach(new TestPlugin());
    plugin->createResult = nextCreateResult;
    const HRESULT hr = plugin->QueryInterface(iid, out);
    if (SUCCEEDED(hr)) made.push_back(std::move(plugin));
    return hr;
}

void RegisterPluginWindowClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    static const HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    windowClass.hbrBackground = red;
    windowClass.lpszClassName = kPluginWindowClass;
    RegisterClassExW(&windowClass);
}

}  // namespace svtest
