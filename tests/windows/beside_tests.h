#pragma once

#include <windows.h>

#include <string>

namespace cvtest {

// A file in the folder of the test program, where the build puts Corvane.dll,
// its schema and CorvaneSettings.exe.
inline std::wstring besideTests(const wchar_t* file) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring program(path, length);
    return program.substr(0, program.rfind(L'\\') + 1) + file;
}

inline bool keyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

}  // namespace cvtest
