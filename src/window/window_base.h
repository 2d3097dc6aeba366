// The project's own small window layer: a window object owns one Win32 window (created or a modal
// dialog) and receives that window's messages through its message map.
//
// Binding: the object is found from the window through a window property, by one shared static
// procedure. No executable thunk is written: the same code then serves the 32- and the 64-bit build
// and needs no writable-then-executable memory. A window being created is bound on its very first
// message (WM_GETMINMAXINFO or WM_NCCREATE, before WM_CREATE).
//
// Lifetime: after WM_NCDESTROY the object is unbound and its handle is null; once no message
// handler of the object is running any more, it receives the final message (WM_NCDESTROY with
// MessagePass::Final), after which it may delete itself. Deleting the object while its window
// still exists unbinds it first (and destroys a window it created), so no message ever reaches a
// deleted object, even when it is deleted from inside one of its own handlers.
#pragma once
#include <windows.h>

#include <memory>

namespace sv {

// What RegisterWindowClass needs; the procedure is always the window layer's own.
struct WindowClassInfo {
    const wchar_t* name = nullptr;
    UINT style = 0;
    HBRUSH background = nullptr;
    HCURSOR cursor = nullptr;
    // A system cursor (IDC_*) for when no cursor is given: loaded only when the class is
    // registered, not each time a window of it is made.
    const wchar_t* systemCursor = nullptr;
    HICON icon = nullptr;
};

// The class the plug-in's panes and main window register under their own names: redrawn whole on
// resize, double clicks, the window colour behind, the arrow cursor.
inline WindowClassInfo PaneClassInfo(const wchar_t* name) {
    WindowClassInfo info;
    info.name = name;
    info.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    info.background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    info.systemCursor = IDC_ARROW;
    return info;
}

class WindowBase {
public:
    // Which call of the message map this is. Final is the last call an object receives: message
    // WM_NCDESTROY, wParam 0, lParam 0, after its window is gone and none of its handlers runs; the
    // object may delete itself in it. Maps that want only the window's messages ignore it.
    enum class MessagePass { Ordinary, Final };

    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;

    // The message map: handles one message, stores its result and reports whether it handled it.
    // Unhandled messages get default processing (not for the final pass, which has no window).
    virtual bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                      MessagePass pass);
    // A derived class whose handlers use its own members should destroy its window at the start of
    // its destructor: until this base destructor runs, messages still reach the derived map.
    virtual ~WindowBase();

    HWND Hwnd() const { return hwnd_; }

    // Registers a window class served by this layer in the given module. Registering a name again
    // succeeds; a stale class of the same name (left by an earlier load of the module at another
    // address) is replaced.
    static bool RegisterWindowClass(HINSTANCE instance, const WindowClassInfo& info);
    static bool UnregisterWindowClass(HINSTANCE instance, const wchar_t* className);
    // Registers className in the given module as a superclass of a system class (such as
    // "listbox"): the system class's styles, extra bytes, cursor and background, this layer's
    // procedure, and the system class's procedure for every message the object does not handle.
    static bool RegisterSuperclass(HINSTANCE instance, const wchar_t* className, const wchar_t* baseClassName);

    // Creates a window of a class registered through RegisterWindowClass. A null rect means the
    // default position and size. Fails when the object already has a window.
    HWND Create(HINSTANCE instance, const wchar_t* className, HWND parent, const wchar_t* windowName, DWORD style,
                DWORD exStyle = 0, const RECT* rect = nullptr, HMENU menuOrId = nullptr);
    // DestroyWindow on the object's window; false when it has none.
    bool Destroy();

protected:
    WindowBase() = default;

    // Default processing for the current window: the base class's procedure of a superclass's
    // window, DefWindowProcW for another created one, "not handled" (0) for a dialog.
    LRESULT DefaultProcedure(UINT message, WPARAM wParam, LPARAM lParam);

private:
    friend class DialogBase;
    enum class Kind { None, Created, Dialog };
    struct DispatchFrame;

    static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static WindowBase* BoundObject(HWND hwnd, Kind kind);
    static WindowBase* BindPendingObject(HWND hwnd, Kind kind);
    static LRESULT Deliver(WindowBase* object, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

    static LRESULT DefaultFor(Kind kind, WNDPROC previous, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    bool Bind(HWND hwnd, Kind kind);
    void Unbind(HWND hwnd);
    // After a modal loop: forget a dialog whose last messages never reached its procedure.
    void ForgetEndedDialog();

    HWND hwnd_ = nullptr;
    Kind kind_ = Kind::None;
    WNDPROC previousProcedure_ = nullptr;
    DispatchFrame* innermostFrame_ = nullptr;
    bool finalMessagePending_ = false;
    bool* modalDeletedFlag_ = nullptr;  // set while DoModal runs; tells it the object was deleted
};

// While any message handler of this module's windows runs on the user-interface thread (or a
// HandlerScope lives), code further down the stack may still use an object that a nested loop (a
// dialog, a menu, a page's script) decided to get rid of. Such an object is handed here: deleted at
// once when nothing runs, else when the outermost handler or scope returns. The module stays
// loaded meanwhile. The plug-in's windows all live on one thread.
void DeleteWhenNoHandlerRuns(std::unique_ptr<WindowBase> object) noexcept;
bool HandlerRuns();

// Counts as a running handler: for calls into window objects that do not come as messages (the
// player's events).
class HandlerScope {
public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
};

// A modal dialog bound to its object from its first message on. Handled messages follow the
// dialog-procedure rules (result in DWLP_MSGRESULT, or returned directly for the messages that
// return their value, such as WM_INITDIALOG and WM_CTLCOLOR*).
class DialogBase : public WindowBase {
public:
    // DialogBoxParamW with this object bound; -1 when the dialog could not be made or the object
    // already has a window.
    INT_PTR DoModal(HINSTANCE instance, const wchar_t* templateName, HWND owner);
    // DoModal for a DIALOGEX template whose controls are made one per posted message after its
    // frame, so that no one message holds the thread for the whole build (Wine takes 20-50 ms for
    // a handful of controls). The object's WM_INITDIALOG comes once the last control is there; the
    // modal loop shows the dialog when it first finds its queue empty, by then complete. Any other
    // template: DoModal.
    INT_PTR DoModalInSteps(HINSTANCE instance, const wchar_t* templateName, HWND owner);
    bool EndDialog(INT_PTR result);

protected:
    DialogBase() = default;

private:
    friend class WindowBase;
    template <typename Show>
    INT_PTR RunModal(const Show& show);
    // A message of the stepwise build (its WM_INITDIALOG, a step); true when it was one.
    bool StepMessage(HWND hwnd, UINT message, LPARAM lParam, INT_PTR& result);
    void MakeNextControl(HWND hwnd);

    struct Steps {
        HINSTANCE instance = nullptr;
        const unsigned char* base = nullptr;  // the template, in the module's resources
        const unsigned char* next = nullptr;  // the next control's entry
        const unsigned char* end = nullptr;
        int left = 0;
        LPARAM initParam = 0;
        HWND lastControl = nullptr;
        UINT message = 0;
        bool running = false;
    } steps_;
};

}  // namespace sv
