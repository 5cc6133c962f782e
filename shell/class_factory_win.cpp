#include "shell/class_factory_win.h"

#include "shell/server_win.h"

namespace cvwin {

ClassFactory::ClassFactory(CreateFunction create) : create_(create) { objectCreated(); }

ClassFactory::~ClassFactory() { objectDestroyed(); }

IFACEMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

IFACEMETHODIMP_(ULONG) ClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

IFACEMETHODIMP_(ULONG) ClassFactory::Release() {
    const LONG count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

IFACEMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(riid, object);
}

IFACEMETHODIMP ClassFactory::LockServer(BOOL lock) {
    lockServer(lock != FALSE);
    return S_OK;
}

}  // namespace cvwin
