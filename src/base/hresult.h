// The error policy. Failures inside the plug-in travel as HRESULTs or, where a C++ operation fails
// (out of memory on a text copy), as exceptions. Exceptions are caught only at real boundaries -
// COM methods, the window procedure's dispatch, thread-pool callbacks - through the functions
// below, which turn them into an HRESULT (or nothing) and report what was swallowed to the one
// diagnostics hook. Everything else lets them pass.
#pragma once
#include <windows.h>

#include <new>
#include <type_traits>
#include <utility>

namespace sv {

template <class T>
constexpr HRESULT CheckedHr(T hr) {
    static_assert(std::is_same<T, HRESULT>::value, "this macro takes an HRESULT");
    return hr;
}

// Raised inside the plug-in for a failed call whose HRESULT a boundary should return.
struct HresultError {
    HRESULT hr;
};
[[noreturn]] inline void ThrowHr(HRESULT hr) { throw HresultError{hr}; }

// The one diagnostics hook: a failure the plug-in swallowed, with the place it was swallowed
// (OutputDebugString, which a debugger or DebugView shows; nothing when nobody listens).
void ReportFailure(const char* where, HRESULT hr) noexcept;

// The HRESULT of the exception being handled: its own for HresultError, E_OUTOFMEMORY for a
// failed allocation, E_FAIL for anything else. Call only inside a catch block.
HRESULT CurrentExceptionHr() noexcept;

// A COM method's body: its HRESULT, or the failure of an exception it raised (reported).
template <class Body>
HRESULT ComBoundary(const char* where, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        const HRESULT hr = CurrentExceptionHr();
        ReportFailure(where, hr);
        return hr;
    }
}

// A callback that returns nothing (an event sink method, a thread-pool callback, a call out to a
// page's script): an exception it raised is reported and goes no further. False when one was
// raised, so the caller can fall back to its failure answer.
template <class Body>
bool CallbackBoundary(const char* where, Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
        return true;
    } catch (...) {
        ReportFailure(where, CurrentExceptionHr());
        return false;
    }
}

}  // namespace sv

#define SV_RETURN_IF_FAILED(expr)                 \
    do {                                          \
        HRESULT sv_hr_ = ::sv::CheckedHr((expr)); \
        if (FAILED(sv_hr_)) return sv_hr_;        \
    } while (0)

#define SV_THROW_IF_FAILED(expr)                   \
    do {                                           \
        HRESULT sv_hr_ = ::sv::CheckedHr((expr));  \
        if (FAILED(sv_hr_)) ::sv::ThrowHr(sv_hr_); \
    } while (0)
