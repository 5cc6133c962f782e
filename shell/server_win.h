#pragma once

#include <windows.h>

#include <new>

namespace cvwin {

// The server-wide counts that decide whether the library may be unloaded:
// every live COM object of the server, and the shell's server locks.
void objectCreated();
void objectDestroyed();
void lockServer(bool lock);
bool canUnloadNow();

// The creation function of a class: makes one T (born with one reference,
// counted as a live object), asks it for `riid` and drops the creation
// reference, so an interface it lacks frees it again.
template <typename T>
HRESULT createObject(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    auto* created = new (std::nothrow) T();
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = created->QueryInterface(riid, object);
    created->Release();
    return result;
}

HINSTANCE moduleHandle();
void setModuleHandle(HINSTANCE module);

}  // namespace cvwin
