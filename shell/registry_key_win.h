#pragma once

#include <windows.h>

#include <string>

#include "shell/fault_guard_win.h"

namespace cvwin {

// Owns an open registry key. The registry calls are calls out of Corvane,
// marked so that a fault in them is never taken for one of ours.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        const ForeignCall call;
        if (key_ != nullptr) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool open(HKEY root, const wchar_t* path, REGSAM access) {
        const ForeignCall call;
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, path, 0, access, &key) != ERROR_SUCCESS) return false;
        adopt(key);
        return true;
    }
    bool create(HKEY root, const wchar_t* path, REGSAM access) {
        const ForeignCall call;
        HKEY key = nullptr;
        if (RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return false;
        adopt(key);
        return true;
    }
    HKEY get() const { return key_; }

private:
    void adopt(HKEY key) {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = key;
    }

    HKEY key_ = nullptr;
};

// Whether the value is a text equal to `expected`, letters compared without
// case (class identifiers and paths are written in either case). A missing
// value, another type or a text too long for the buffer is not equal.
inline bool registryTextEquals(HKEY root, const wchar_t* path, const wchar_t* name,
                               const std::wstring& expected) {
    constexpr DWORD kTextCapacity = 1024;  // characters, with the terminating NUL
    wchar_t text[kTextCapacity] = {};
    DWORD bytes = sizeof text - sizeof(wchar_t);
    const ForeignCall call;
    if (RegGetValueW(root, path, name, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS)
        return false;
    return CompareStringOrdinal(text, -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace cvwin
