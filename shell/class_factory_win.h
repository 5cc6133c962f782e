#pragma once

#include <unknwn.h>

namespace cvwin {

// Makes one object and asks it for an interface.
using CreateFunction = HRESULT (*)(REFIID riid, void** object);

// Makes the factory of one class, whose objects `create` makes, and asks it
// for `riid` (DllGetClassObject's work once the class is found).
HRESULT createClassFactory(CreateFunction create, REFIID riid, void** object);

}  // namespace cvwin
