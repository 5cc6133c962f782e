#pragma once

#include <windows.h>

namespace cvwin {

using GuardedWork = HRESULT (*)(void* context);

// Runs `work(context)` so that nothing escapes it: a C++ exception gives
// E_FAIL, and so does a processor fault (access violation, division by zero,
// illegal instruction, in-page error ...), which a vectored handler turns
// into a jump back here. After a fault the work's destructors have not run:
// what it allocated leaks, so the fault is contained, not cleaned up. A stack
// overflow is not caught (there is no stack left to continue on).
HRESULT runGuarded(GuardedWork work, void* context) noexcept;

}  // namespace cvwin
