#include "shell/fault_guard_win.h"

#include <exception>

namespace cvwin {

namespace {

// GCC's register-only setjmp: no unwinding runs through the faulting frames.
using JumpBuffer = void* [5];

thread_local JumpBuffer* tGuard = nullptr;
INIT_ONCE gHandlerOnce = INIT_ONCE_STATIC_INIT;

bool isProcessorFault(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INVALID_OPERATION: return true;
        default: return false;
    }
}

[[noreturn]] void landAfterFault() { __builtin_longjmp(*tGuard, 1); }

// Continues the faulting thread in landAfterFault, as if the faulting
// instruction had called it, so it jumps back into runGuarded.
LONG CALLBACK onException(EXCEPTION_POINTERS* exception) {
    if (tGuard == nullptr || !isProcessorFault(exception->ExceptionRecord->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CONTEXT* context = exception->ContextRecord;
    context->Rsp = (context->Rsp - 256) & ~static_cast<DWORD64>(15);
    context->Rsp -= 8;  // a call leaves the stack 8 bytes below 16-byte alignment
    context->Rip = reinterpret_cast<DWORD64>(&landAfterFault);
    return EXCEPTION_CONTINUE_EXECUTION;
}

BOOL CALLBACK installHandler(INIT_ONCE*, void*, void**) {
    return AddVectoredExceptionHandler(1, onException) != nullptr;
}

HRESULT runCatchingExceptions(GuardedWork work, void* context) noexcept {
    try {
        return work(context);
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace

HRESULT runGuarded(GuardedWork work, void* context) noexcept {
    if (!InitOnceExecuteOnce(&gHandlerOnce, installHandler, nullptr, nullptr)) {
        return runCatchingExceptions(work, context);
    }
    JumpBuffer buffer;
    JumpBuffer* const outer = tGuard;
    if (__builtin_setjmp(buffer) != 0) {
        tGuard = outer;
        return E_FAIL;
    }
    tGuard = &buffer;
    const HRESULT result = runCatchingExceptions(work, context);
    tGuard = outer;
    return result;
}

}  // namespace cvwin
