#include "base/hresult.h"

#include <cstdio>

namespace sv {

void ReportFailure(const char* where, HRESULT hr) noexcept {
    char line[256];
    std::snprintf(line, sizeof(line), "Sonavire: %s failed (0x%08lX)\n", where ? where : "?",
                  static_cast<unsigned long>(hr));
    OutputDebugStringA(line);
}

HRESULT CurrentExceptionHr() noexcept {
    try {
        throw;
    } catch (const HresultError& e) {
        return e.hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace sv
