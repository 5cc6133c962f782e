#pragma once

#include <windows.h>

namespace cvwin {

// The server-wide counts that decide whether the library may be unloaded:
// every live COM object of the server, and the shell's server locks.
void objectCreated();
void objectDestroyed();
void lockServer(bool lock);
bool canUnloadNow();

HINSTANCE moduleHandle();
void setModuleHandle(HINSTANCE module);

}  // namespace cvwin
