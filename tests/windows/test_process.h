#pragma once

#include <windows.h>

#include <string>

namespace cvtest {

// A program the test starts and later waits for; a start that failed keeps its error.
class TestProcess {
public:
    explicit TestProcess(std::wstring commandLine) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process_) != FALSE;
        if (!started_) error_ = GetLastError();
    }
    ~TestProcess() {
        if (!started_) return;
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;

    // The exit code; a program still running after `waitMs` is ended and
    // reported as WAIT_TIMEOUT.
    DWORD exitCode(DWORD waitMs) {
        if (!started_) return error_;
        if (WaitForSingleObject(process_.hProcess, waitMs) != WAIT_OBJECT_0) {
            TerminateProcess(process_.hProcess, WAIT_TIMEOUT);
            return WAIT_TIMEOUT;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
    DWORD error_ = 0;
};

inline DWORD runToEnd(const std::wstring& commandLine, DWORD waitMs) {
    return TestProcess(commandLine).exitCode(waitMs);
}

}  // namespace cvtest
