// Error macros that accept only an HRESULT, and the guard that keeps exceptions inside COM,
// thread and window-procedure boundaries.
#pragma once
#include <windows.h>
#include <new>
#include <type_traits>

namespace sv {
template <class T>
constexpr HRESULT CheckedHr(T hr) {
    static_assert(std::is_same<T, HRESULT>::value, "this macro takes an HRESULT");
    return hr;
}

// Raised inside the plug-in for a failed allocation of a text copy; boundaries turn it into an HRESULT.
struct HresultError {
    HRESULT hr;
};
[[noreturn]] inline void ThrowHr(HRESULT hr) { throw HresultError{hr}; }
}  // namespace sv

#define SV_RETURN_IF_FAILED(expr)                        \
    do {                                                 \
        HRESULT sv_hr_ = ::sv::CheckedHr((expr));        \
        if (FAILED(sv_hr_)) return sv_hr_;               \
    } while (0)

#define SV_THROW_IF_FAILED(expr)                         \
    do {                                                 \
        HRESULT sv_hr_ = ::sv::CheckedHr((expr));        \
        if (FAILED(sv_hr_)) ::sv::ThrowHr(sv_hr_);       \
    } while (0)

// Runs body and turns any exception into an HRESULT; for COM methods and other boundaries.
#define SV_COM_BOUNDARY(body)                                          \
    try {                                                              \
        body                                                           \
    } catch (const ::sv::HresultError& e) {                            \
        return e.hr;                                                   \
    } catch (const std::bad_alloc&) {                                  \
        return E_OUTOFMEMORY;                                          \
    } catch (...) {                                                    \
        return E_FAIL;                                                 \
    }
