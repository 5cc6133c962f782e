#pragma once

#include <windows.h>

namespace cvtest {

// The file a planted program or library writes to when run or loaded, named
// by the test through the environment its children inherit.
inline constexpr const wchar_t* kPlantedMarkerVariable = L"CORVANE_PLANTED_MARKER";

// Kernel32 only: the library leaves its mark from DllMain.
inline void leavePlantedMark(const char* who) {
    constexpr DWORD kPathCapacity = MAX_PATH;  // characters
    wchar_t path[kPathCapacity];
    const DWORD length = GetEnvironmentVariableW(kPlantedMarkerVariable, path, kPathCapacity);
    if (length == 0 || length >= kPathCapacity) return;
    const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, who, static_cast<DWORD>(lstrlenA(who)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

}  // namespace cvtest
