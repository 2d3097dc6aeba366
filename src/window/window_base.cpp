#include "window/window_base.h"

#include "base/hresult.h"
#include "base/module_lock.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace sv {
namespace {

// The object bound to a window lives in the slot Windows keeps for the application's own use:
// GWLP_USERDATA for a window of ours, DWLP_USER for a dialog. Read on every message, it is read
// from the window itself; a window property would be a round trip to Wine's server each time.
int ObjectSlot(bool dialog) { return dialog ? DWLP_USER : GWLP_USERDATA; }

WindowBase* ReadObjectSlot(HWND hwnd, bool dialog) {
    return reinterpret_cast<WindowBase*>(GetWindowLongPtrW(hwnd, ObjectSlot(dialog)));
}
void WriteObjectSlot(HWND hwnd, bool dialog, WindowBase* object) {
    SetWindowLongPtrW(hwnd, ObjectSlot(dialog), reinterpret_cast<LONG_PTR>(object));
}

// Superclasses registered by this module: the class name and the base class's procedure, which
// handles what the object does not. Registered and read on the user-interface thread.
struct Superclass {
    HINSTANCE instance;
    std::wstring name;
    WNDPROC baseProcedure;
};
// Module-wide state lives at namespace scope, made at load and ended at unload: a function-local
// static or a thread_local would go through the statically linked runtime's locks and per-thread
// storage, whose state for the player's thread outlives an unloaded module and leaks its handles
// at every unload.
std::vector<Superclass> g_superclasses;
std::vector<Superclass>& Superclasses() { return g_superclasses; }

WNDPROC BaseProcedureOf(HINSTANCE instance, const wchar_t* className) {
    if (!className || IS_INTRESOURCE(className)) return nullptr;
    for (const Superclass& entry : Superclasses()) {
        if (entry.instance == instance && lstrcmpiW(entry.name.c_str(), className) == 0) return entry.baseProcedure;
    }
    return nullptr;
}

// The object whose window is being made on this thread; taken by the window's first message.
struct PendingBinding {
    WindowBase* object = nullptr;
    int kind = 0;
    WNDPROC baseProcedure = nullptr;  // a superclass's base procedure, for default processing
};

// Each thread's pending binding, in a system thread-local slot held for the module's lifetime.
class PendingSlot {
public:
    PendingSlot() : index_(TlsAlloc()) {}
    ~PendingSlot() {
        if (index_ != TLS_OUT_OF_INDEXES) TlsFree(index_);
    }
    PendingSlot(const PendingSlot&) = delete;
    PendingSlot& operator=(const PendingSlot&) = delete;

    PendingBinding* Get() const {
        return index_ == TLS_OUT_OF_INDEXES ? nullptr : static_cast<PendingBinding*>(TlsGetValue(index_));
    }
    void Set(PendingBinding* binding) const {
        if (index_ != TLS_OUT_OF_INDEXES) TlsSetValue(index_, binding);
    }

private:
    DWORD index_;
};
const PendingSlot g_pendingSlot;

class ScopedPendingBinding {
public:
    ScopedPendingBinding(WindowBase* object, int kind, WNDPROC baseProcedure = nullptr)
        : binding_{object, kind, baseProcedure}, saved_(g_pendingSlot.Get()) {
        g_pendingSlot.Set(&binding_);
    }
    ~ScopedPendingBinding() { g_pendingSlot.Set(saved_); }
    ScopedPendingBinding(const ScopedPendingBinding&) = delete;
    ScopedPendingBinding& operator=(const ScopedPendingBinding&) = delete;

private:
    PendingBinding binding_;
    PendingBinding* saved_;
};

bool ReturnsValueDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
            return true;
        default:
            return false;
    }
}

}  // namespace

// One per message being handled by an object; lets the destructor tell every running dispatch
// that the object is gone.
struct WindowBase::DispatchFrame {
    DispatchFrame* outer;
    bool objectDeleted;
};

bool WindowBase::ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT&, MessagePass) { return false; }

WindowBase::~WindowBase() {
    for (DispatchFrame* frame = innermostFrame_; frame; frame = frame->outer) frame->objectDeleted = true;
    if (modalDeletedFlag_) *modalDeletedFlag_ = true;
    if (!hwnd_) return;
    const HWND hwnd = hwnd_;
    const Kind kind = kind_;
    Unbind(hwnd);
    // The window must not outlive its object unbound: a created window goes with it, a modal
    // dialog is ended (nothing would handle its buttons any more).
    if (kind == Kind::Created) {
        DestroyWindow(hwnd);
    } else if (kind == Kind::Dialog) {
        ::EndDialog(hwnd, IDCANCEL);
    }
}

bool WindowBase::RegisterWindowClass(HINSTANCE instance, const WindowClassInfo& info) {
    if (!info.name) return false;
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, info.name, &existing)) {
        if (existing.lpfnWndProc == &WindowBase::WindowProcedure) return true;
        // Left by an earlier load of this module: its procedure address is no longer ours.
        UnregisterClassW(info.name, instance);
    }
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = info.style;
    windowClass.lpfnWndProc = &WindowBase::WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = info.icon;
    windowClass.hCursor = info.cursor || !info.systemCursor ? info.cursor : LoadCursorW(nullptr, info.systemCursor);
    windowClass.hbrBackground = info.background;
    windowClass.lpszClassName = info.name;
    if (RegisterClassExW(&windowClass)) return true;
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool WindowBase::RegisterSuperclass(HINSTANCE instance, const wchar_t* className, const wchar_t* baseClassName) {
    WNDCLASSEXW base{};
    base.cbSize = sizeof(base);
    if (!GetClassInfoExW(nullptr, baseClassName, &base)) return false;
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(instance, className, &existing)) {
        if (existing.lpfnWndProc == &WindowBase::WindowProcedure && BaseProcedureOf(instance, className)) return true;
        UnregisterClassW(className, instance);  // left by an earlier load of this module
    }
    std::vector<Superclass>& registered = Superclasses();
    registered.erase(std::remove_if(registered.begin(), registered.end(),
                                    [&](const Superclass& entry) {
                                        return entry.instance == instance &&
                                               lstrcmpiW(entry.name.c_str(), className) == 0;
                                    }),
                     registered.end());
    registered.push_back(Superclass{instance, className, base.lpfnWndProc});
    WNDCLASSEXW windowClass = base;
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style &= ~static_cast<UINT>(CS_GLOBALCLASS);
    windowClass.lpfnWndProc = &WindowBase::WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    if (RegisterClassExW(&windowClass)) return true;
    registered.pop_back();
    return false;
}

bool WindowBase::UnregisterWindowClass(HINSTANCE instance, const wchar_t* className) {
    return UnregisterClassW(className, instance) != FALSE;
}

HWND WindowBase::Create(HINSTANCE instance, const wchar_t* className, HWND parent, const wchar_t* windowName,
                        DWORD style, DWORD exStyle, const RECT* rect, HMENU menuOrId) {
    if (hwnd_) return nullptr;
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT, width = CW_USEDEFAULT, height = CW_USEDEFAULT;
    if (rect) {
        x = rect->left;
        y = rect->top;
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
    }
    ScopedPendingBinding pending(this, static_cast<int>(Kind::Created), BaseProcedureOf(instance, className));
    // The object may be gone when this returns (a WM_CREATE handler may delete it): touch nothing.
    return CreateWindowExW(exStyle, className, windowName, style, x, y, width, height, parent, menuOrId, instance,
                           this);
}

bool WindowBase::Destroy() {
    if (!hwnd_) return false;
    return DestroyWindow(hwnd_) != FALSE;
}

LRESULT WindowBase::DefaultProcedure(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!hwnd_) return 0;
    return DefaultFor(kind_, previousProcedure_, hwnd_, message, wParam, lParam);
}

LRESULT WindowBase::DefaultFor(Kind kind, WNDPROC previous, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (kind) {
        case Kind::Dialog:
            return 0;
        default:
            // A superclass's window: its base class's procedure.
            if (previous) return CallWindowProcW(previous, hwnd, message, wParam, lParam);
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

bool WindowBase::Bind(HWND hwnd, Kind kind) {
    const bool dialog = kind == Kind::Dialog;
    WriteObjectSlot(hwnd, dialog, this);
    if (ReadObjectSlot(hwnd, dialog) != this) return false;
    hwnd_ = hwnd;
    kind_ = kind;
    return true;
}

void WindowBase::Unbind(HWND hwnd) {
    if (ReadObjectSlot(hwnd, kind_ == Kind::Dialog) == this) WriteObjectSlot(hwnd, kind_ == Kind::Dialog, nullptr);
    hwnd_ = nullptr;
    kind_ = Kind::None;
    previousProcedure_ = nullptr;
}

WindowBase* WindowBase::BoundObject(HWND hwnd, Kind kind) { return ReadObjectSlot(hwnd, kind == Kind::Dialog); }

WindowBase* WindowBase::BindPendingObject(HWND hwnd, Kind kind) {
    PendingBinding* pending = g_pendingSlot.Get();
    if (!pending) return nullptr;
    WindowBase* object = pending->object;
    if (!object || pending->kind != static_cast<int>(kind) || object->hwnd_) return nullptr;
    const WNDPROC baseProcedure = pending->baseProcedure;
    *pending = {};
    if (!object->Bind(hwnd, kind)) return nullptr;
    object->previousProcedure_ = baseProcedure;
    return object;
}

namespace {

// Handlers of this module's windows (and HandlerScopes) running now, and the objects waiting for
// the last of them to return.
int g_runningHandlers = 0;
std::vector<std::unique_ptr<WindowBase>> g_waitingForDeletion;

void HandlerEnded() {
    if (--g_runningHandlers > 0 || g_waitingForDeletion.empty()) return;
    // Deleting may run handlers again (a window still there is destroyed): they count as usual.
    std::vector<std::unique_ptr<WindowBase>> deleting;
    deleting.swap(g_waitingForDeletion);
    for (std::unique_ptr<WindowBase>& object : deleting) {
        object.reset();
        ModuleRelease();
    }
}

struct RunningHandler {
    RunningHandler() { ++g_runningHandlers; }
    ~RunningHandler() { HandlerEnded(); }
};

}  // namespace

void DeleteWhenNoHandlerRuns(std::unique_ptr<WindowBase> object) noexcept {
    if (!object) return;
    if (g_runningHandlers == 0) {
        object.reset();
        return;
    }
    try {
        g_waitingForDeletion.push_back(std::move(object));
    } catch (...) {
        // Out of memory: kept for ever rather than deleted under a running handler.
        object.release();
        return;
    }
    ModuleAddRef();
}

bool HandlerRuns() { return g_runningHandlers > 0; }

HandlerScope::HandlerScope() { ++g_runningHandlers; }
HandlerScope::~HandlerScope() { HandlerEnded(); }

LRESULT WindowBase::Deliver(WindowBase* object, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    const RunningHandler running;
    DispatchFrame frame{object->innermostFrame_, false};
    object->innermostFrame_ = &frame;
    // Copies: default processing must still work when a handler deletes the object.
    const Kind kind = object->kind_;
    const WNDPROC previous = object->previousProcedure_;

    LRESULT result = 0;
    handled = false;
    try {
        handled = object->ProcessWindowMessage(hwnd, message, wParam, lParam, result, MessagePass::Ordinary);
    } catch (...) {
        // A failing handler counts as not handling the message.
        ReportFailure("window message", CurrentExceptionHr());
        handled = false;
        result = 0;
    }
    if (!handled) result = DefaultFor(kind, previous, hwnd, message, wParam, lParam);
    if (frame.objectDeleted) return result;

    object->innermostFrame_ = frame.outer;
    if (message == WM_NCDESTROY && object->hwnd_ == hwnd) {
        object->Unbind(hwnd);
        object->finalMessagePending_ = true;
    }
    if (object->finalMessagePending_ && !object->innermostFrame_) {
        object->finalMessagePending_ = false;
        LRESULT ignored = 0;
        // The object may delete itself here; nothing of it is touched afterwards.
        CallbackBoundary("final window message",
                         [&] { object->ProcessWindowMessage(hwnd, WM_NCDESTROY, 0, 0, ignored, MessagePass::Final); });
    }
    return result;
}

LRESULT CALLBACK WindowBase::WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowBase* object = BoundObject(hwnd, Kind::Created);
    if (!object) object = BindPendingObject(hwnd, Kind::Created);
    if (!object) return DefWindowProcW(hwnd, message, wParam, lParam);
    bool handled = false;
    return Deliver(object, hwnd, message, wParam, lParam, handled);
}

INT_PTR CALLBACK WindowBase::DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowBase* object = BoundObject(hwnd, Kind::Dialog);
    if (!object) object = BindPendingObject(hwnd, Kind::Dialog);
    if (!object) return FALSE;
    // Only DialogBase binds dialogs.
    INT_PTR stepResult = 0;
    if (static_cast<DialogBase*>(object)->StepMessage(hwnd, message, lParam, stepResult)) return stepResult;
    bool handled = false;
    const LRESULT result = Deliver(object, hwnd, message, wParam, lParam, handled);
    if (!handled) return FALSE;
    if (ReturnsValueDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

template <typename Show>
INT_PTR DialogBase::RunModal(const Show& show) {
    if (hwnd_) return -1;
    bool deleted = false;
    modalDeletedFlag_ = &deleted;
    INT_PTR result;
    {
        ScopedPendingBinding pending(this, static_cast<int>(Kind::Dialog));
        result = show();
    }
    if (deleted) return result;
    modalDeletedFlag_ = nullptr;
    steps_.running = false;
    ForgetEndedDialog();
    return result;
}

INT_PTR DialogBase::DoModal(HINSTANCE instance, const wchar_t* templateName, HWND owner) {
    return RunModal([&] {
        return DialogBoxParamW(instance, templateName, owner, &WindowBase::DialogProcedure,
                               reinterpret_cast<LPARAM>(this));
    });
}

namespace {

// Dialog templates (DIALOGEX), read with their bounds checked; fields are copied out, as the
// template's WORD alignment does not suit every field.
template <typename T>
bool ReadField(const unsigned char*& at, const unsigned char* end, T& value) {
    if (end - at < static_cast<ptrdiff_t>(sizeof(T))) return false;
    std::memcpy(&value, at, sizeof(T));
    at += sizeof(T);
    return true;
}

// A text-or-ordinal field: its text (null for an ordinal) and ordinal; false when it runs past the end.
bool ReadTextOrOrdinal(const unsigned char*& at, const unsigned char* end, const wchar_t*& text, WORD& ordinal) {
    WORD first = 0;
    const unsigned char* start = at;
    if (!ReadField(at, end, first)) return false;
    text = nullptr;
    if (first == 0xFFFF) return ReadField(at, end, ordinal);
    text = reinterpret_cast<const wchar_t*>(start);
    for (WORD c = first; c != 0;)
        if (!ReadField(at, end, c)) return false;
    return true;
}

const unsigned char* AlignedToDword(const unsigned char* at, const unsigned char* base) {
    return base + ((at - base + 3) & ~static_cast<ptrdiff_t>(3));
}

constexpr size_t kItemCountOffset = 16;  // dlgVer, signature, helpID, exStyle, style

// Where a DIALOGEX template's first control begins, and how many there are.
bool ReadDialogHeader(const unsigned char* base, const unsigned char* end, const unsigned char*& items, int& count) {
    const unsigned char* at = base;
    WORD version = 0, signature = 0, itemCount = 0;
    DWORD helpId = 0, exStyle = 0, style = 0;
    short rect[4] = {};
    if (!ReadField(at, end, version) || !ReadField(at, end, signature) || version != 1 || signature != 0xFFFF ||
        !ReadField(at, end, helpId) || !ReadField(at, end, exStyle) || !ReadField(at, end, style) ||
        !ReadField(at, end, itemCount) || !ReadField(at, end, rect))
        return false;
    const wchar_t* text = nullptr;
    WORD ordinal = 0;
    for (int field = 0; field < 2; ++field)  // menu, class
        if (!ReadTextOrOrdinal(at, end, text, ordinal)) return false;
    if (!ReadTextOrOrdinal(at, end, text, ordinal) || !text) return false;  // caption
    if (style & (DS_SETFONT | DS_SHELLFONT)) {
        WORD points = 0, weight = 0;
        BYTE italic = 0, charset = 0;
        if (!ReadField(at, end, points) || !ReadField(at, end, weight) || !ReadField(at, end, italic) ||
            !ReadField(at, end, charset) || !ReadTextOrOrdinal(at, end, text, ordinal) || !text)
            return false;
    }
    items = AlignedToDword(at, base);
    count = itemCount;
    return items <= end;
}

struct DialogItem {
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    const wchar_t* className = nullptr;
    bool button = false;
    const wchar_t* title = L"";
    wchar_t titleOrdinal[3] = {};  // a resource title as controls take it: 0xFFFF, its ordinal
    const void* creationData = nullptr;
};

// One control's entry; the next entry, or null when it runs past the end.
const unsigned char* ReadDialogItem(const unsigned char* base, const unsigned char* at, const unsigned char* end,
                                    DialogItem& item) {
    DWORD helpId = 0;
    if (!ReadField(at, end, helpId) || !ReadField(at, end, item.exStyle) || !ReadField(at, end, item.style) ||
        !ReadField(at, end, item.x) || !ReadField(at, end, item.y) || !ReadField(at, end, item.cx) ||
        !ReadField(at, end, item.cy) || !ReadField(at, end, item.id))
        return nullptr;
    WORD ordinal = 0;
    if (!ReadTextOrOrdinal(at, end, item.className, ordinal)) return nullptr;
    if (!item.className) {
        static const wchar_t* const kSystemClasses[] = {L"Button",  L"Edit",      L"Static",
                                                        L"ListBox", L"ScrollBar", L"ComboBox"};
        if (ordinal < 0x80 || ordinal > 0x85) return nullptr;
        item.className = kSystemClasses[ordinal - 0x80];
        item.button = ordinal == 0x80;
    } else {
        item.button = lstrcmpiW(item.className, L"Button") == 0;
    }
    const wchar_t* title = nullptr;
    if (!ReadTextOrOrdinal(at, end, title, ordinal)) return nullptr;
    if (title) {
        item.title = title;
    } else {
        item.titleOrdinal[0] = 0xFFFF;
        item.titleOrdinal[1] = static_cast<wchar_t>(ordinal);
        item.title = item.titleOrdinal;
    }
    WORD extraBytes = 0;
    const unsigned char* extra = at;
    if (!ReadField(at, end, extraBytes) || end - at < extraBytes) return nullptr;
    item.creationData = extraBytes ? extra : nullptr;
    at += extraBytes;
    return AlignedToDword(at, base);
}

}  // namespace

INT_PTR DialogBase::DoModalInSteps(HINSTANCE instance, const wchar_t* templateName, HWND owner) {
    const HRSRC found = FindResourceW(instance, templateName, MAKEINTRESOURCEW(5));  // RT_DIALOG
    const HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    const auto* base = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    const unsigned char* end = base ? base + SizeofResource(instance, found) : nullptr;
    const unsigned char* items = nullptr;
    int count = 0;
    if (!base || !ReadDialogHeader(base, end, items, count) || count == 0)
        return DoModal(instance, templateName, owner);
    if (hwnd_) return -1;

    // The frame alone: the template up to its first control, with no controls.
    std::vector<DWORD> frame((static_cast<size_t>(items - base) + 3) / 4);
    std::memcpy(frame.data(), base, static_cast<size_t>(items - base));
    const WORD none = 0;
    std::memcpy(reinterpret_cast<unsigned char*>(frame.data()) + kItemCountOffset, &none, sizeof none);

    steps_ = {};
    steps_.instance = instance;
    steps_.base = base;
    steps_.next = items;
    steps_.end = end;
    steps_.left = count;
    steps_.message = RegisterWindowMessageW(L"SonavireDialogStep");
    steps_.running = steps_.message != 0;
    return RunModal([&] {
        return DialogBoxIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(frame.data()), owner,
                                       &WindowBase::DialogProcedure, reinterpret_cast<LPARAM>(this));
    });
}

bool DialogBase::StepMessage(HWND hwnd, UINT message, LPARAM lParam, INT_PTR& result) {
    if (!steps_.running) return false;
    if (message == WM_INITDIALOG) {
        // No controls yet: the object's own WM_INITDIALOG waits for them.
        steps_.initParam = lParam;
        PostMessageW(hwnd, steps_.message, 0, 0);
        result = FALSE;
        return true;
    }
    if (message != steps_.message) return false;
    result = TRUE;
    MakeNextControl(hwnd);
    if (steps_.left > 0 && steps_.next) {
        PostMessageW(hwnd, steps_.message, 0, 0);
        return true;
    }
    steps_.running = false;
    bool handled = false;
    // May end the dialog or delete the object: only the window is looked at afterwards.
    const LRESULT focusFirst = Deliver(this, hwnd, WM_INITDIALOG, 0, steps_.initParam, handled);
    if ((!handled || focusFirst) && IsWindow(hwnd)) {
        if (const HWND first = GetNextDlgTabItem(hwnd, nullptr, FALSE))
            SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }
    return true;
}

void DialogBase::MakeNextControl(HWND hwnd) {
    DialogItem item;
    steps_.next = ReadDialogItem(steps_.base, steps_.next, steps_.end, item);
    --steps_.left;
    if (!steps_.next) return;
    RECT area{item.x, item.y, item.x + item.cx, item.y + item.cy};
    MapDialogRect(hwnd, &area);
    const HWND control = CreateWindowExW(
        item.exStyle | WS_EX_NOPARENTNOTIFY, item.className, item.title, item.style | WS_CHILD, area.left, area.top,
        area.right - area.left, area.bottom - area.top, hwnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item.id)),
        steps_.instance, const_cast<void*>(item.creationData));
    if (!control) return;
    if (const LRESULT font = SendMessageW(hwnd, WM_GETFONT, 0, 0)) SendMessageW(control, WM_SETFONT, font, FALSE);
    // The tab order is the template's.
    SetWindowPos(control, steps_.lastControl ? steps_.lastControl : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    steps_.lastControl = control;
    if (item.button && (item.style & 0x0F) == BS_DEFPUSHBUTTON) SendMessageW(hwnd, DM_SETDEFID, item.id, 0);
}

void WindowBase::ForgetEndedDialog() {
    if (!hwnd_ || kind_ != Kind::Dialog) return;
    const HWND hwnd = hwnd_;
    if (IsWindow(hwnd) && ReadObjectSlot(hwnd, true) == this) WriteObjectSlot(hwnd, true, nullptr);
    hwnd_ = nullptr;
    kind_ = Kind::None;
    LRESULT ignored = 0;
    CallbackBoundary("final dialog message",
                     [&] { ProcessWindowMessage(hwnd, WM_NCDESTROY, 0, 0, ignored, MessagePass::Final); });
}

bool DialogBase::EndDialog(INT_PTR result) {
    if (!hwnd_ || kind_ != Kind::Dialog) return false;
    return ::EndDialog(hwnd_, result) != FALSE;
}

}  // namespace sv
