#pragma once

#include <unknwn.h>

#include <new>
#include <utility>

#include "shell/server_win.h"

namespace cvwin {

// The IUnknown of every COM object of the server: one reference count, a
// QueryInterface that answers IUnknown (as the first interface) and each of
// `Interfaces`, and a place in the server's count of live objects from
// construction to destruction, so the library stays loaded while it lives.
template <typename Primary, typename... Others>
class ComObject : public Primary, public Others... {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == __uuidof(IUnknown)) {
            *object = static_cast<Primary*>(this);
        } else if (!(offer<Primary>(riid, object) || ... || offer<Others>(riid, object))) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    IFACEMETHODIMP_(ULONG) AddRef() override { return addReference(); }

    IFACEMETHODIMP_(ULONG) Release() override { return dropReference(); }

protected:
    ComObject() { objectCreated(); }
    virtual ~ComObject() { objectDestroyed(); }

    // The plain reference and release, for a class whose AddRef or Release
    // does more first, or that holds references of its own.
    ULONG addReference() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG dropReference() {
        const LONG count = InterlockedDecrement(&references_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

private:
    template <typename Interface>
    bool offer(REFIID riid, void** object) {
        if (riid != __uuidof(Interface)) return false;
        *object = static_cast<Interface*>(this);
        return true;
    }

    volatile LONG references_ = 1;
};

// Makes one T (born with one reference), asks it for `riid` and drops the
// creation reference, so an interface it lacks frees it again: the creation
// function of a class, and of the class factories themselves.
template <typename T, typename... Arguments>
HRESULT createObject(REFIID riid, void** object, Arguments&&... arguments) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    auto* created = new (std::nothrow) T(std::forward<Arguments>(arguments)...);
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = created->QueryInterface(riid, object);
    created->Release();
    return result;
}

}  // namespace cvwin
