// Test entry for the Windows tests: a crash must fail the run with a fixed
// code, never exit 0 or wait on a dialog.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

constexpr UINT kCrashExitCode = 70;

LONG WINAPI reportCrash(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "unhandled exception 0x%08lX\n",
                 exception->ExceptionRecord->ExceptionCode);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(reportCrash);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
