#pragma once

#include <windows.h>

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
        if (RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &key, nullptr) != ERROR_SUCCESS) return false;
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

}  // namespace cvwin
