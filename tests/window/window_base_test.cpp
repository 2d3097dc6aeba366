// The window layer against real windows (under Wine and Xvfb): binding before WM_CREATE, messages
// reaching their own object, destruction and deletion from inside handlers, the subclass helper, the
// final message, exceptions in handlers and the modal-dialog helper.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "window/window_base.h"
#include "window/window_subclass.h"

namespace {

using sv::WindowBase;
using sv::WindowSubclass;

constexpr wchar_t kTestClass[] = L"SvWindowBaseTest";
constexpr UINT kPing = WM_USER + 1;
constexpr UINT kUnhandled = WM_USER + 2;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

std::string Name(UINT message) {
    switch (message) {
        case WM_GETMINMAXINFO:
            return "WM_GETMINMAXINFO";
        case WM_NCCREATE:
            return "WM_NCCREATE";
        case WM_NCCALCSIZE:
            return "WM_NCCALCSIZE";
        case WM_CREATE:
            return "WM_CREATE";
        case WM_DESTROY:
            return "WM_DESTROY";
        case WM_NCDESTROY:
            return "WM_NCDESTROY";
        case kPing:
            return "ping";
        case kUnhandled:
            return "unhandled";
        default:
            return "";
    }
}

// Records the messages it gets (by name, for the ones named above) and lets a test handle any.
class RecordingWindow : public WindowBase {
public:
    explicit RecordingWindow(std::vector<std::string>* record = nullptr, bool* destroyed = nullptr)
        : record_(record ? record : &ownRecord_), destroyed_(destroyed) {}
    ~RecordingWindow() override {
        if (destroyed_) *destroyed_ = true;
    }

    std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)> onMessage;
    std::function<void(HWND)> onFinalMessage;
    HWND boundAtNcCreate = nullptr;
    std::vector<std::string>& Record() { return *record_; }

    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override {
        if (pass == MessagePass::Final) {
            record_->push_back("final");
            if (onFinalMessage) onFinalMessage(hwnd);
            return true;
        }
        EXPECT_EQ(pass, MessagePass::Ordinary);
        const std::string name = Name(message);
        if (!name.empty()) record_->push_back(name);
        if (message == WM_NCCREATE) boundAtNcCreate = Hwnd();
        if (onMessage) return onMessage(hwnd, message, wParam, lParam, result);
        if (message == kPing) {
            result = 0x1234;
            return true;
        }
        return false;
    }

private:
    std::vector<std::string> ownRecord_;
    std::vector<std::string>* record_;
    bool* destroyed_;
};

class WindowBaseTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        sv::WindowClassInfo info{};
        info.name = kTestClass;
        info.background = GetSysColorBrush(COLOR_WINDOW);
        info.cursor = LoadCursorW(nullptr, IDC_ARROW);
        ASSERT_TRUE(WindowBase::RegisterWindowClass(Instance(), info));
    }

    static HWND MakeWindow(WindowBase& object, DWORD style = WS_POPUP) {
        RECT rect{10, 10, 210, 110};
        return object.Create(Instance(), kTestClass, nullptr, L"test", style, 0, &rect);
    }
};

TEST_F(WindowBaseTest, BindsOnTheFirstMessageBeforeCreate) {
    RecordingWindow window;
    const HWND hwnd = MakeWindow(window, WS_OVERLAPPEDWINDOW);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(window.Hwnd(), hwnd);
    EXPECT_EQ(window.boundAtNcCreate, hwnd);
    const std::vector<std::string>& record = window.Record();
    ASSERT_GE(record.size(), 3u);
    EXPECT_EQ(record[0], "WM_GETMINMAXINFO");
    EXPECT_EQ(record[1], "WM_NCCREATE");
    const auto create = std::find(record.begin(), record.end(), "WM_CREATE");
    ASSERT_NE(create, record.end());
    EXPECT_GT(create - record.begin(), 1);
    EXPECT_TRUE(window.Destroy());
    EXPECT_EQ(window.Hwnd(), nullptr);
}

TEST_F(WindowBaseTest, EachObjectGetsItsOwnMessages) {
    std::vector<std::pair<const void*, HWND>> calls;
    RecordingWindow first, second;
    for (RecordingWindow* window : {&first, &second}) {
        window->onMessage = [&calls, window](HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT& result) {
            if (message != kPing) return false;
            calls.emplace_back(window, hwnd);
            result = reinterpret_cast<LRESULT>(window);
            return true;
        };
    }
    ASSERT_TRUE(MakeWindow(first));
    ASSERT_TRUE(MakeWindow(second));
    EXPECT_EQ(SendMessageW(second.Hwnd(), kPing, 0, 0), reinterpret_cast<LRESULT>(&second));
    EXPECT_EQ(SendMessageW(first.Hwnd(), kPing, 0, 0), reinterpret_cast<LRESULT>(&first));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], std::make_pair(static_cast<const void*>(&second), second.Hwnd()));
    EXPECT_EQ(calls[1], std::make_pair(static_cast<const void*>(&first), first.Hwnd()));
    // A second window for an object that has one is refused.
    EXPECT_EQ(MakeWindow(first), nullptr);
}

TEST_F(WindowBaseTest, DestroyFromInsideAHandlerDefersTheFinalMessage) {
    RecordingWindow window;
    window.onMessage = [&](HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != kPing) return false;
        window.Record().push_back("ping-begin");
        DestroyWindow(hwnd);
        // Still inside this handler: the window is gone, the object is not yet told finally.
        EXPECT_EQ(window.Hwnd(), nullptr);
        window.Record().push_back("ping-end");
        result = 5;
        return true;
    };
    const HWND hwnd = MakeWindow(window);
    ASSERT_NE(hwnd, nullptr);
    window.Record().clear();
    EXPECT_EQ(SendMessageW(hwnd, kPing, 0, 0), 5);
    EXPECT_FALSE(IsWindow(hwnd));
    const std::vector<std::string> expected{"ping", "ping-begin", "WM_DESTROY", "WM_NCDESTROY", "ping-end", "final"};
    EXPECT_EQ(window.Record(), expected);
    // The object can make a new window afterwards.
    EXPECT_NE(MakeWindow(window), nullptr);
}

TEST_F(WindowBaseTest, DeletingTheObjectInsideItsHandlerIsSafe) {
    bool destroyed = false;
    auto* window = new RecordingWindow(nullptr, &destroyed);
    const HWND hwnd = MakeWindow(*window);
    ASSERT_NE(hwnd, nullptr);
    window->onMessage = [window](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != kPing) return false;
        delete window;
        result = 7;
        return true;
    };
    EXPECT_EQ(SendMessageW(hwnd, kPing, 0, 0), 7);
    EXPECT_TRUE(destroyed);
    // The window went with its object; nothing of it is left to reach the deleted object.
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(WindowBaseTest, AnObjectHandedOverInsideAnyHandlerGoesWhenTheOutermostReturns) {
    // An owner lets go of a window object from inside a nested handler (the player unloading the
    // plug-in from a dialog's loop); the code further down the stack still uses the object.
    bool destroyed = false;
    auto owned = std::make_unique<RecordingWindow>(nullptr, &destroyed);
    RecordingWindow* window = owned.get();
    RecordingWindow outer;
    const HWND hwnd = MakeWindow(*window);
    const HWND outerHwnd = MakeWindow(outer);
    ASSERT_TRUE(hwnd && outerHwnd);
    window->onMessage = [&](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != kPing) return false;
        window->Destroy();
        sv::DeleteWhenNoHandlerRuns(std::move(owned));
        EXPECT_FALSE(destroyed) << "deleted under its own handler";
        result = 1;
        return true;
    };
    outer.onMessage = [&](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != kPing) return false;
        {
            const sv::HandlerScope event;  // a call that does not come as a message
            SendMessageW(hwnd, kPing, 0, 0);
        }
        EXPECT_FALSE(destroyed) << "another window's handler still runs below";
        result = 1;
        return true;
    };
    SendMessageW(outerHwnd, kPing, 0, 0);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(sv::HandlerRuns());
}

TEST_F(WindowBaseTest, UnhandledMessageAfterDeletionStillGetsDefaultProcessing) {
    auto* window = new RecordingWindow();
    const HWND hwnd = MakeWindow(*window);
    ASSERT_NE(hwnd, nullptr);
    window->onMessage = [window](HWND, UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message == WM_SETTEXT) delete window;
        return false;
    };
    // DefWindowProc runs after the handler deleted the object (and destroyed the window), without
    // touching the object: nothing crashes and the call returns.
    SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"after"));
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(WindowBaseTest, TheFinalMessageMayDeleteTheObject) {
    bool destroyed = false;
    auto* window = new RecordingWindow(nullptr, &destroyed);
    window->onFinalMessage = [window](HWND) { delete window; };
    const HWND hwnd = MakeWindow(*window);
    ASSERT_NE(hwnd, nullptr);
    DestroyWindow(hwnd);
    EXPECT_TRUE(destroyed);
}

TEST_F(WindowBaseTest, DeletingTheObjectDestroysTheWindowItMade) {
    std::vector<std::string> record;
    auto* window = new RecordingWindow(&record);
    const HWND hwnd = MakeWindow(*window);
    ASSERT_NE(hwnd, nullptr);
    record.clear();
    delete window;
    EXPECT_FALSE(IsWindow(hwnd));
    // The destruction messages came after the object was unbound: none reached it.
    EXPECT_TRUE(record.empty());
}

TEST_F(WindowBaseTest, AnExceptionInAHandlerStaysInsideAndGetsDefaultProcessing) {
    RecordingWindow window;
    window.onMessage = [](HWND, UINT message, WPARAM, LPARAM, LRESULT&) -> bool {
        if (message == WM_SETTEXT) throw std::runtime_error("handler failed");
        if (message == kPing) throw 42;
        return false;
    };
    const HWND hwnd = MakeWindow(window);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(SetWindowTextW(hwnd, L"default text"));
    wchar_t text[32] = {};
    GetWindowTextW(hwnd, text, 32);
    EXPECT_STREQ(text, L"default text");
    EXPECT_EQ(SendMessageW(hwnd, kPing, 0, 0), 0);
    EXPECT_TRUE(IsWindow(hwnd));
}

// ----- Subclassing ------------------------------------------------------------------------------

std::vector<std::string> g_originalRecord;

LRESULT CALLBACK OriginalProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::string name = Name(message);
    if (!name.empty()) g_originalRecord.push_back("original " + name);
    if (message == kUnhandled) return 0x77;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

WNDPROC g_outerPrevious = nullptr;
std::vector<std::string> g_outerRecord;

LRESULT CALLBACK OuterProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::string name = Name(message);
    if (!name.empty()) g_outerRecord.push_back("outer " + name);
    return CallWindowProcW(g_outerPrevious, hwnd, message, wParam, lParam);
}

// The subclass helper on a window of another procedure, as the plug-in takes the player's host.
LRESULT CALLBACK CountingSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    const std::string name = Name(message);
    if (!name.empty()) g_outerRecord.push_back("subclass " + name);
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

class SubclassTest : public WindowBaseTest {
protected:
    static void SetUpTestSuite() {
        WindowBaseTest::SetUpTestSuite();
        WNDCLASSEXW plain{};
        plain.cbSize = sizeof(plain);
        plain.lpfnWndProc = OriginalProcedure;
        plain.hInstance = Instance();
        plain.lpszClassName = L"SvWindowBasePlain";
        ASSERT_TRUE(RegisterClassExW(&plain) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
    }
    void SetUp() override {
        plain_ = CreateWindowExW(0, L"SvWindowBasePlain", L"plain", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                 Instance(), nullptr);
        ASSERT_NE(plain_, nullptr);
        g_originalRecord.clear();
        g_outerRecord.clear();
    }
    void TearDown() override {
        if (IsWindow(plain_)) DestroyWindow(plain_);
    }
    LONG_PTR Procedure() const { return GetWindowLongPtrW(plain_, GWLP_WNDPROC); }

    HWND plain_ = nullptr;
};

TEST_F(SubclassTest, InstalledOnceMessagesPassThroughAndRemovingGivesTheWindowBack) {
    ASSERT_TRUE(WindowSubclass::Install(plain_, &CountingSubclass, 1));
    EXPECT_FALSE(WindowSubclass::Install(plain_, &CountingSubclass, 1)) << "each window is counted once";
    EXPECT_TRUE(WindowSubclass::Installed(plain_, &CountingSubclass, 1));
    EXPECT_EQ(SendMessageW(plain_, kUnhandled, 0, 0), 0x77);
    EXPECT_EQ(g_outerRecord, (std::vector<std::string>{"subclass unhandled"}));

    EXPECT_TRUE(WindowSubclass::Remove(plain_, &CountingSubclass, 1));
    EXPECT_FALSE(WindowSubclass::Remove(plain_, &CountingSubclass, 1));
    EXPECT_EQ(Procedure(), reinterpret_cast<LONG_PTR>(&OriginalProcedure));
    EXPECT_FALSE(WindowSubclass::Install(nullptr, &CountingSubclass, 1));
}

TEST_F(SubclassTest, AProcedureInstalledOnTopKeepsItsChain) {
    ASSERT_TRUE(WindowSubclass::Install(plain_, &CountingSubclass, 1));
    g_outerPrevious =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(plain_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OuterProcedure)));
    // Emptying the chain under it would cut the outer procedure off: the subclass stays.
    EXPECT_FALSE(WindowSubclass::Remove(plain_, &CountingSubclass, 1));
    EXPECT_EQ(SendMessageW(plain_, kUnhandled, 0, 0), 0x77);
    EXPECT_EQ(g_outerRecord, (std::vector<std::string>{"outer unhandled", "subclass unhandled"}));
    EXPECT_EQ(g_originalRecord, (std::vector<std::string>{"original unhandled"}));

    // Once the outer one has gone, the window gets its own procedure back.
    SetWindowLongPtrW(plain_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_outerPrevious));
    EXPECT_TRUE(WindowSubclass::Remove(plain_, &CountingSubclass, 1));
    EXPECT_EQ(Procedure(), reinterpret_cast<LONG_PTR>(&OriginalProcedure));
}

TEST_F(WindowBaseTest, RegisteringAgainAndReplacingAStaleClass) {
    sv::WindowClassInfo info{};
    info.name = L"SvWindowBaseStale";
    // A class of that name whose procedure is not this layer's (as left by an unloaded module).
    WNDCLASSEXW stale{};
    stale.cbSize = sizeof(stale);
    stale.lpfnWndProc = DefWindowProcW;
    stale.hInstance = Instance();
    stale.lpszClassName = info.name;
    ASSERT_TRUE(RegisterClassExW(&stale));
    ASSERT_TRUE(WindowBase::RegisterWindowClass(Instance(), info));
    ASSERT_TRUE(WindowBase::RegisterWindowClass(Instance(), info));
    RecordingWindow window;
    ASSERT_NE(window.Create(Instance(), info.name, nullptr, nullptr, WS_POPUP), nullptr);
    EXPECT_EQ(SendMessageW(window.Hwnd(), kPing, 0, 0), 0x1234);
    window.Destroy();
    EXPECT_TRUE(WindowBase::UnregisterWindowClass(Instance(), info.name));
}

TEST_F(WindowBaseTest, ChildWindowsWithTheDefaultRectangle) {
    RecordingWindow parent, child;
    ASSERT_NE(MakeWindow(parent), nullptr);
    ASSERT_NE(child.Create(Instance(), kTestClass, parent.Hwnd(), nullptr, WS_CHILD | WS_VISIBLE), nullptr);
    EXPECT_EQ(GetParent(child.Hwnd()), parent.Hwnd());
    RECT rect;
    GetWindowRect(child.Hwnd(), &rect);
    EXPECT_EQ(rect.right - rect.left, 0);
    // Destroying the parent tells the child object too.
    parent.Destroy();
    EXPECT_EQ(child.Hwnd(), nullptr);
    EXPECT_EQ(child.Record().back(), "final");
}

// ----- Modal dialogs ----------------------------------------------------------------------------

class TestDialog : public sv::DialogBase {
public:
    std::vector<std::string> record;
    LRESULT queryResult = 0;
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override {
        if (pass != MessagePass::Ordinary) {
            record.push_back("final");
            return true;
        }
        switch (message) {
            case WM_SETFONT:
                record.push_back("WM_SETFONT");
                return false;
            case WM_INITDIALOG:
                record.push_back(Hwnd() == hwnd ? "WM_INITDIALOG bound" : "WM_INITDIALOG unbound");
                // A handled message's result travels in DWLP_MSGRESULT.
                queryResult = SendMessageW(hwnd, kPing, 0, 0);
                PostMessageW(hwnd, kUnhandled, 0, 0);
                result = TRUE;
                return true;
            case kPing:
                result = 0x4321;
                return true;
            case kUnhandled:
                EndDialog(42);
                return true;
            default:
                return false;
        }
    }
};

TEST_F(WindowBaseTest, ModalDialogIsBoundFromItsFirstMessage) {
    TestDialog dialog;
    const INT_PTR result = dialog.DoModal(Instance(), MAKEINTRESOURCEW(1), nullptr);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(dialog.queryResult, 0x4321);
    ASSERT_GE(dialog.record.size(), 3u);
    EXPECT_EQ(dialog.record[0], "WM_SETFONT");
    EXPECT_EQ(dialog.record[1], "WM_INITDIALOG bound");
    EXPECT_EQ(dialog.record.back(), "final");
    EXPECT_EQ(dialog.Hwnd(), nullptr);
    // The object can run its dialog again.
    dialog.record.clear();
    EXPECT_EQ(dialog.DoModal(Instance(), MAKEINTRESOURCEW(1), nullptr), 42);
}

// The stepwise build: a message posted before it runs while the dialog has no controls yet; the
// object's WM_INITDIALOG sees them all, in the template's tab order, with the dialog's font, the
// default button known and the first tab stop focused.
class SteppedDialog : public sv::DialogBase {
public:
    std::vector<int> idsAtInit;
    bool fontsMatch = false;
    LRESULT defaultId = 0;
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM, LRESULT& result,
                              MessagePass pass) override {
        if (pass != MessagePass::Ordinary) return false;
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) return EndDialog(IDCANCEL);
        if (message != WM_INITDIALOG) return false;
        const LRESULT font = SendMessageW(hwnd, WM_GETFONT, 0, 0);
        fontsMatch = font != 0;
        for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            idsAtInit.push_back(GetDlgCtrlID(child));
            fontsMatch = fontsMatch && SendMessageW(child, WM_GETFONT, 0, 0) == font;
        }
        defaultId = LOWORD(SendMessageW(hwnd, DM_GETDEFID, 0, 0));
        PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
        result = TRUE;
        return true;
    }
};

TEST_F(WindowBaseTest, StepwiseDialogMakesItsControlsOverSeveralMessages) {
    SteppedDialog dialog;
    int controlsWhenPostedRan = -1;
    struct Probe : sv::WindowBase {
        SteppedDialog* dialog = nullptr;
        int* controls = nullptr;
        bool ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT&, MessagePass pass) override {
            if (pass != MessagePass::Ordinary || !dialog->Hwnd()) return false;
            if (message == WM_APP) {
                *controls = 0;
                for (HWND c = GetWindow(dialog->Hwnd(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++*controls;
            }
            return false;
        }
    } probe;
    probe.dialog = &dialog;
    probe.controls = &controlsWhenPostedRan;
    ASSERT_TRUE(sv::WindowBase::RegisterWindowClass(Instance(), {L"SonavireStepProbe"}));
    ASSERT_TRUE(probe.Create(Instance(), L"SonavireStepProbe", HWND_MESSAGE, L"", 0));
    PostMessageW(probe.Hwnd(), WM_APP, 0, 0);

    EXPECT_EQ(dialog.DoModalInSteps(Instance(), MAKEINTRESOURCEW(2), nullptr), IDCANCEL);
    EXPECT_EQ(controlsWhenPostedRan, 0);
    EXPECT_EQ(dialog.idsAtInit, (std::vector<int>{101, 102, 103, 104}));
    EXPECT_TRUE(dialog.fontsMatch);
    EXPECT_EQ(dialog.defaultId, 103);
    // A template without controls is made at once.
    TestDialog plain;
    EXPECT_EQ(plain.DoModalInSteps(Instance(), MAKEINTRESOURCEW(1), nullptr), 42);
    probe.Destroy();
}

}  // namespace
