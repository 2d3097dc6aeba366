// Sonavire.dll through its exported entry points, as COM, the player and regsvr32 use it: class
// objects and unloading, the registry entries, the running-player check and the rescan broadcast.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "base/com_ptr.h"
#include "base/win_handles.h"
#include "settings/plugin_identity.h"
#include "resources/resource_ids.h"
#include "test_support.h"

using namespace svtest;

namespace {

const std::wstring kClassKey = std::wstring(L"CLSID\\") + sv::kSonavireClsidText;
const std::wstring kServerKey = kClassKey + L"\\InprocServer32";
const std::wstring kUiPlugins = L"SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins";
const std::wstring kPluginKey = kUiPlugins + L"\\" + sv::kSonavireClsidText;

// {9A4F2B6C-1E3D-4C5B-A7F8-0B1C2D3E4F50}
const CLSID kOtherClass = {0x9A4F2B6C, 0x1E3D, 0x4C5B, {0xA7, 0xF8, 0x0B, 0x1C, 0x2D, 0x3E, 0x4F, 0x50}};

void RemoveRegistration() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPluginKey.c_str());
}

void StoreSettingsAsAUserWould() {
    sv::UniqueHkey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPluginKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                             key.put(), nullptr));
    const wchar_t name[] = L"someone";
    RegSetValueExW(key.get(), L"UserName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof(name));
    const DWORD split = 300;
    RegSetValueExW(key.get(), L"SplitPos", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&split), sizeof(split));
    sv::UniqueHkey child;
    RegCreateKeyExW(key.get(), L"Leftover", 0, nullptr, 0, KEY_WRITE, nullptr, child.put(), nullptr);
}

void ExpectRegisteredAs(const std::wstring& modulePath) {
    std::wstring text;
    ASSERT_TRUE(ReadString(HKEY_CLASSES_ROOT, kClassKey, nullptr, text));
    EXPECT_EQ(L"Sonavire Class", text);
    ASSERT_TRUE(ReadString(HKEY_CLASSES_ROOT, kServerKey, nullptr, text));
    EXPECT_EQ(0, lstrcmpiW(modulePath.c_str(), text.c_str())) << "server path differs from the module's";
    ASSERT_TRUE(ReadString(HKEY_CLASSES_ROOT, kServerKey, L"ThreadingModel", text));
    EXPECT_EQ(L"Apartment", text);

    // Exactly the three values, and nothing below the key.
    auto names = ValueNames(HKEY_LOCAL_MACHINE, kPluginKey);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Capabilities", L"Description", L"FriendlyName"}), names);
    EXPECT_EQ(0u, SubkeyCount(HKEY_LOCAL_MACHINE, kPluginKey));
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kPluginKey, L"FriendlyName", text));
    EXPECT_EQ(L"res://Sonavire.dll/RT_STRING/#100", text);
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kPluginKey, L"Description", text));
    EXPECT_EQ(L"res://Sonavire.dll/RT_STRING/#101", text);
    DWORD capabilities = 0;
    ASSERT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, kPluginKey, L"Capabilities", capabilities));
    EXPECT_EQ(0x40000004u, capabilities);
}

void ExpectUnregistered() {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPluginKey));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUiPlugins));
}

class DllTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dll_.loaded()) << "Sonavire.dll not found next to the test"; }
    SonavireDll dll_;
};

TEST_F(DllTest, ClassObjects) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, dll_.GetClassObject(kOtherClass, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, dll_.GetClassObject(sv::CLSID_Sonavire, IID_IClassFactory, nullptr));

    sv::ComPtr<IClassFactory> first, second;
    ASSERT_EQ(S_OK, dll_.GetClassObject(sv::CLSID_Sonavire, IID_IClassFactory, first.put_void()));
    ASSERT_EQ(S_OK, dll_.GetClassObject(sv::CLSID_Sonavire, IID_IClassFactory, second.put_void()));
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(CLASS_E_NOAGGREGATION, first->CreateInstance(first.get(), IID_IUnknown, &out));
}

TEST_F(DllTest, CanUnloadOnlyWhenNothingHoldsTheModule) {
    EXPECT_EQ(S_OK, dll_.CanUnloadNow());
    sv::ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, dll_.GetClassObject(sv::CLSID_Sonavire, IID_IClassFactory, factory.put_void()));
    EXPECT_EQ(S_FALSE, dll_.CanUnloadNow());

    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    factory.reset();
    EXPECT_EQ(S_FALSE, dll_.CanUnloadNow()) << "the server lock alone must hold the module";
    ASSERT_EQ(S_OK, dll_.GetClassObject(sv::CLSID_Sonavire, IID_IClassFactory, factory.put_void()));
    ASSERT_EQ(S_OK, factory->LockServer(FALSE));

    sv::ComPtr<IUnknown> plugin;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, plugin.put_void()));
    factory.reset();
    ASSERT_TRUE(plugin);
    EXPECT_EQ(S_FALSE, dll_.CanUnloadNow()) << "a living plug-in object must hold the module";
    plugin.reset();
    EXPECT_EQ(S_OK, dll_.CanUnloadNow());
}

// The module unloads and loads again cleanly after it has started (settings record, cached factory).
TEST(DllReload, StartsAgainAfterUnload) {
    for (int round = 0; round < 3; ++round) {
        SonavireDll dll;
        ASSERT_TRUE(dll.loaded());
        sv::ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, dll.GetClassObject(sv::CLSID_Sonavire, IID_IClassFactory, factory.put_void()));
        factory.reset();
        EXPECT_EQ(S_OK, dll.CanUnloadNow());
    }
}

class RegistrationTest : public DllTest {
protected:
    void SetUp() override {
        DllTest::SetUp();
        RemoveRegistration();
    }
    void TearDown() override { RemoveRegistration(); }
};

TEST_F(RegistrationTest, RegisterWritesTheEntriesAndDropsStoredSettings) {
    StoreSettingsAsAUserWould();
    ASSERT_EQ(S_OK, dll_.RegisterServer());
    ExpectRegisteredAs(dll_.path());
    // Registering again gives the same entries.
    ASSERT_EQ(S_OK, dll_.RegisterServer());
    ExpectRegisteredAs(dll_.path());
}

TEST_F(RegistrationTest, UnregisterRemovesBothClassKeysOnly) {
    ASSERT_EQ(S_OK, dll_.RegisterServer());
    StoreSettingsAsAUserWould();
    ASSERT_EQ(S_OK, dll_.UnregisterServer());
    ExpectUnregistered();
    // Nothing left to remove is not a failure.
    EXPECT_EQ(S_OK, dll_.UnregisterServer());
    ExpectUnregistered();
}

// regsvr32 as a separate Windows process, as an installer would run it.
DWORD RunRegsvr32(const std::wstring& arguments) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(system) + L"\\regsvr32.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    sv::UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return 0xFFFFFFFE;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return exitCode;
}

TEST_F(RegistrationTest, Regsvr32RegistersAndUnregisters) {
    const std::wstring path = dll_.path();
    ASSERT_EQ(0u, RunRegsvr32(L"/s \"" + path + L"\""));
    ExpectRegisteredAs(path);
    ASSERT_EQ(0u, RunRegsvr32(L"/u /s \"" + path + L"\""));
    ExpectUnregistered();
}

// A module whose path does not fit 259 characters is refused before anything is written.
TEST_F(RegistrationTest, TooLongModulePathWritesNothing) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    std::wstring folder = std::wstring(L"\\\\?\\") + temp + L"sonavire-long-path";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring segment(60, L'd');
    std::vector<std::wstring> made{folder};
    while (folder.size() < 300) {
        folder += L"\\" + segment;
        CreateDirectoryW(folder.c_str(), nullptr);
        made.push_back(folder);
    }
    const std::wstring copy = folder + L"\\Sonavire.dll";
    ASSERT_TRUE(CopyFileW(dll_.path().c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module) {
        auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(module, "DllRegisterServer"));
        ASSERT_NE(nullptr, registerServer);
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), registerServer());
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPluginKey));
        FreeLibrary(module);
    }
    DeleteFileW(copy.c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(it->c_str());
    if (!module) GTEST_SKIP() << "this system does not load a DLL from a path that long";
}

// ---- The running player and the rescan broadcast ----

// A window in the manner of the player's, on its own thread with its own message loop, which
// ends when WM_QUIT arrives (as the real player's loop does).
class PlayerWindowThread {
public:
    PlayerWindowThread() {
        ready_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread_.reset(CreateThread(nullptr, 0, &ThreadMain, this, 0, nullptr));
        WaitForSingleObject(ready_.get(), 10000);
    }
    ~PlayerWindowThread() {
        if (WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT && window_) PostMessageW(window_, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread_.get(), 10000);
    }
    HWND window() const { return window_; }
    bool WaitForExit(DWORD timeoutMs) const { return WaitForSingleObject(thread_.get(), timeoutMs) == WAIT_OBJECT_0; }
    bool quitReceived() const { return quitReceived_; }
    HWND quitTarget() const { return quitTarget_; }
    bool running() const { return WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_CLOSE) {
            DestroyWindow(hwnd);
            return 0;
        }
        if (message == WM_DESTROY) PostQuitMessage(1);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    static DWORD WINAPI ThreadMain(void* parameter) {
        auto* self = static_cast<PlayerWindowThread*>(parameter);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &WindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"WMPlayerApp";
        RegisterClassW(&windowClass);
        self->window_ = CreateWindowExW(0, L"WMPlayerApp", L"Windows Media Player", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetEvent(self->ready_.get());
        if (!self->window_) return 1;
        MSG msg{};
        BOOL got;
        while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) DispatchMessageW(&msg);
        if (got == 0 && msg.wParam == 0) {
            self->quitReceived_ = true;
            self->quitTarget_ = msg.hwnd;
        }
        if (IsWindow(self->window_)) DestroyWindow(self->window_);
        return 0;
    }

    sv::UniqueKernelHandle ready_;
    sv::UniqueKernelHandle thread_;
    HWND window_ = nullptr;
    std::atomic<bool> quitReceived_{false};
    std::atomic<HWND> quitTarget_{nullptr};
};

// Answers every message box of this thread with OK as soon as it becomes active, and records what
// it showed. A CBT hook sees the box before its modal loop runs, so nothing waits on a timer.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(const PlayerWindowThread* player = nullptr) {
        current_ = this;
        player_ = player;
        hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~MessageBoxAnswerer() {
        if (hook_) UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    bool hooked() const { return hook_ != nullptr; }
    int boxes = 0;
    std::wstring caption, text;
    HWND owner = nullptr;
    bool playerRunningWhileShown = false;
    bool playerQuitBeforeShown = false;

private:
    // A window callback: stdcall on 32-bit Windows, which a lambda cannot be.
    static BOOL CALLBACK TakeStaticText(HWND child, LPARAM found) {
        wchar_t className[32] = {}, buffer[512] = {};
        GetClassNameW(child, className, 32);
        if (lstrcmpiW(className, L"Static") == 0 && GetWindowTextW(child, buffer, 512) > 0) {
            *reinterpret_cast<std::wstring*>(found) = buffer;
            return FALSE;
        }
        return TRUE;
    }
    // The message is the box's one static control with text (its icon is a static without text).
    static std::wstring MessageText(HWND box) {
        std::wstring text;
        EnumChildWindows(box, &TakeStaticText, reinterpret_cast<LPARAM>(&text));
        return text;
    }

    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        MessageBoxAnswerer* self = current_;
        if (code == HCBT_ACTIVATE && self) {
            HWND box = reinterpret_cast<HWND>(wParam);
            wchar_t className[64] = {};
            GetClassNameW(box, className, 64);
            if (lstrcmpW(className, L"#32770") == 0) {
                ++self->boxes;
                wchar_t buffer[512] = {};
                GetWindowTextW(box, buffer, 512);
                self->caption = buffer;
                self->text = MessageText(box);
                self->owner = GetWindow(box, GW_OWNER);
                if (self->player_) {
                    self->playerRunningWhileShown = self->player_->running();
                    self->playerQuitBeforeShown = self->player_->quitReceived();
                }
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline MessageBoxAnswerer* current_ = nullptr;
    const PlayerWindowThread* player_ = nullptr;
    HHOOK hook_ = nullptr;
};

// A hidden top-level window that counts "WMPlayer_PluginAddRemove" broadcasts.
class BroadcastListener {
public:
    BroadcastListener() {
        message_ = RegisterWindowMessageW(L"WMPlayer_PluginAddRemove");
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &WindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SonavireBroadcastListener";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"listener", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), this);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~BroadcastListener() {
        if (window_) DestroyWindow(window_);
    }
    HWND window() const { return window_; }
    int received = 0;
    WPARAM lastWParam = 1;
    LPARAM lastLParam = 1;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<BroadcastListener*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && message == self->message_) {
            ++self->received;
            self->lastWParam = wParam;
            self->lastLParam = lParam;
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    UINT message_ = 0;
    HWND window_ = nullptr;
};

TEST_F(RegistrationTest, RunningPlayerIsToldThenClosed) {
    PlayerWindowThread player;
    ASSERT_NE(nullptr, player.window());

    // The box is owned by this thread's active window.
    BroadcastListener owner;  // any top-level window of this thread will do
    ShowWindow(owner.window(), SW_SHOWNA);
    SetActiveWindow(owner.window());
    const HWND active = GetActiveWindow();

    MessageBoxAnswerer answerer(&player);
    ASSERT_TRUE(answerer.hooked());
    EXPECT_EQ(S_OK, dll_.RegisterServer());

    EXPECT_EQ(1, answerer.boxes);
    EXPECT_EQ(L"Sonavire", answerer.caption);
    EXPECT_EQ(
        L"Windows Media must be closed before continuing. Press OK to close Windows Media and complete the "
        L"installation.",
        answerer.text);
    EXPECT_EQ(active, answerer.owner);
    EXPECT_TRUE(answerer.playerRunningWhileShown);
    EXPECT_FALSE(answerer.playerQuitBeforeShown) << "the player must be closed only after the box";

    ASSERT_TRUE(player.WaitForExit(10000)) << "the player's message loop did not end";
    EXPECT_TRUE(player.quitReceived());
    EXPECT_EQ(player.window(), player.quitTarget());
    // Registration went ahead.
    ExpectRegisteredAs(dll_.path());
}

TEST_F(RegistrationTest, NoPlayerNoMessageBoxAndUnregistrationNeverAsks) {
    ASSERT_EQ(nullptr, FindWindowW(L"WMPlayerApp", L"Windows Media Player"));
    MessageBoxAnswerer answerer;
    ASSERT_TRUE(answerer.hooked());
    EXPECT_EQ(S_OK, dll_.RegisterServer());
    EXPECT_EQ(0, answerer.boxes);

    PlayerWindowThread player;
    ASSERT_NE(nullptr, player.window());
    EXPECT_EQ(S_OK, dll_.UnregisterServer());
    EXPECT_EQ(0, answerer.boxes);
    EXPECT_FALSE(player.WaitForExit(0));
    EXPECT_FALSE(player.quitReceived());
}

TEST_F(RegistrationTest, RunningPlayersAreToldToRescan) {
    BroadcastListener listener;
    ASSERT_NE(nullptr, listener.window());
    ASSERT_EQ(S_OK, dll_.RegisterServer());
    EXPECT_TRUE(PumpUntil([&] { return listener.received == 1; }, 10000));
    EXPECT_EQ(0u, listener.lastWParam);
    EXPECT_EQ(0, listener.lastLParam);

    ASSERT_EQ(S_OK, dll_.UnregisterServer());
    EXPECT_TRUE(PumpUntil([&] { return listener.received == 2; }, 10000));
}

}  // namespace
