// Stands in for the plug-in object's creator until the plug-in object (CSonavire) is linked in:
// the DLL then builds from its own definition and this file drops out of the link.
#include "plugin/sonavire_factory.h"

HRESULT CreateSonavireObject(REFIID, void** ppv) {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
}
