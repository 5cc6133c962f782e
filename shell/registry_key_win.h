#pragma once

#include <windows.h>

#include <string>
#include <string_view>

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

// Whether root\path holds a value or a subkey; a missing key holds nothing.
inline bool registryKeyHoldsAnything(HKEY root, const std::wstring& path) {
    RegistryKey key;
    if (!key.open(root, path.c_str(), KEY_QUERY_VALUE)) return false;
    DWORD subkeys = 0;
    DWORD values = 0;
    const ForeignCall call;
    return RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
           subkeys != 0 || values != 0;
}

// Deletes anchor\below and then each key above it that is left empty,
// stopping at the first that holds anything; the anchor itself always stays.
// Missing keys on the way are passed over.
inline void deleteEmptyKeys(HKEY root, const std::wstring& anchor, std::wstring_view below) {
    while (!below.empty()) {
        const std::wstring path = anchor + L"\\" + std::wstring(below);
        if (registryKeyHoldsAnything(root, path)) return;
        const ForeignCall call;
        const LSTATUS deleted = RegDeleteKeyW(root, path.c_str());
        if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return;
        const auto slash = below.rfind(L'\\');
        below = slash == std::wstring_view::npos ? std::wstring_view() : below.substr(0, slash);
    }
}

}  // namespace cvwin
