// The stand-in browser: a Web Browser control for tests and the demo, where Wine has no HTML
// engine. Registered in-process for the Web Browser class id, it is what a pane's CoCreateInstance
// gets, and it behaves towards its container as the real control does: it asks the client site
// for IDocHostUIHandler, activates in place in the site's window, calls GetHostInfo while it loads
// a document and GetExternal when the page first touches window.external. It loads a page over
// HTTP (WinINet) or from a file, runs the page's scripts in Wine's JScript with window, document
// and external, and calls external's members as a browser does (DISPATCH_METHOD |
// DISPATCH_PROPERTYGET, arguments by reference; through IDispatchEx::InvokeEx with a caller that
// names the calling window, when the object has it). A page's <iframe src> frames load with it and
// run their scripts in engines of their own, their window.external asked of the same container.
// Document gives an IHTMLDocument2 whose Script is the script engine's global object and whose
// parentWindow is the page's window. It draws the page's title and text, so that a picture shows
// what is open; document.getElementById(id).textContent changes that text.
//
// Everything runs on the thread that registered the class (a single-threaded apartment).
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace sv::standin {

// The stand-in is the Web Browser class of this process while an object of this type lives.
class ScopedStandinBrowser {
public:
    ScopedStandinBrowser();
    ~ScopedStandinBrowser();
    ScopedStandinBrowser(const ScopedStandinBrowser&) = delete;
    ScopedStandinBrowser& operator=(const ScopedStandinBrowser&) = delete;
    bool Registered() const { return cookie_ != 0; }

private:
    DWORD cookie_ = 0;
};

// While this lives the stand-in shows html for the address url (a whole "http://..." address, as
// navigated to or named by a frame) instead of fetching it: pages on any host, without a server.
class ScopedServedPage {
public:
    ScopedServedPage(std::wstring url, std::string html);
    ~ScopedServedPage();
    ScopedServedPage(const ScopedServedPage&) = delete;
    ScopedServedPage& operator=(const ScopedServedPage&) = delete;

private:
    std::wstring url_;
};

// One stand-in browser as tests and the stand-in player see it.
class StandinBrowser {
public:
    // The address the page was loaded from, as a browser reports it ("file:///C:/..." for files).
    virtual std::wstring Location() const = 0;
    virtual std::wstring Title() const = 0;
    // The page's text as drawn now, one line per block.
    virtual std::wstring Text() const = 0;
    // Pages loaded so far (each completed navigation, a failed one included).
    virtual int CompletedLoads() const = 0;
    // A navigation is waiting to be carried out.
    virtual bool Loading() const = 0;
    // "line N: description" of every script error of the current page.
    virtual std::vector<std::wstring> ScriptErrors() const = 0;
    // What the container's document host answered: the flags of GetHostInfo (none asked: -1) and
    // how often the browser asked it for the external object.
    virtual long HostInfoFlags() const = 0;
    virtual int ExternalRequests() const = 0;
    virtual HWND Window() const = 0;
    // Runs code in the current page; with value, code is an expression and value its text.
    virtual bool RunScript(const std::wstring& code, std::wstring* value = nullptr) = 0;
    // The same in the page's frame number frame (in page order).
    virtual bool RunFrameScript(size_t frame, const std::wstring& code, std::wstring* value = nullptr) = 0;
    // Asks the container's document host for window.external as a page does (a counted
    // reference); false when it gives none.
    virtual bool AskExternal(IDispatch** external) = 0;

protected:
    ~StandinBrowser() = default;
};

// The stand-in browsers alive in this process, oldest first.
std::vector<StandinBrowser*> LiveStandinBrowsers();

}  // namespace sv::standin
