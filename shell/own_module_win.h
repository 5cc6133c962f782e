#pragma once

#include <windows.h>

namespace cvwin {

// A reference to this library that work on another thread hands back as its
// very last act, so the code it returns through stays mapped.
HMODULE referenceOwnModule();

}  // namespace cvwin
