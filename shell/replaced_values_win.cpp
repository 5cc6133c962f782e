#include "shell/replaced_values_win.h"

#include <vector>

#include "shell/registry_key_win.h"

namespace cvwin {

namespace {

// Handler identifiers and property lists are far smaller. The copies lie in
// the user's own keys when registering per user, and an elevated removal of
// that registration reads them, so their size is checked before anything is
// allocated for them.
constexpr DWORD kMaxReplacedValueBytes = 64 * 1024;  // bytes of one value's data

constexpr const wchar_t* kSoftwareKey = L"Software";
constexpr const wchar_t* kSettingsBelowSoftware = L"Mirelith\\Corvane";

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

std::wstring copyPath(const std::wstring& path) {
    return std::wstring(kReplacedValuesKey) + L"\\" + path;
}

// ERROR_FILE_NOT_FOUND when the key or the value is missing. The bytes are
// read as stored: no expansion, no added terminator.
LSTATUS readValue(HKEY root, const std::wstring& path, const wchar_t* name, StoredValue& value) {
    RegistryKey key;
    if (!key.open(root, path.c_str(), KEY_QUERY_VALUE)) return ERROR_FILE_NOT_FOUND;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (size > kMaxReplacedValueBytes) return ERROR_MORE_DATA;
    value.bytes.resize(size);
    status = RegQueryValueExW(key.get(), name, nullptr, &value.type, value.bytes.data(), &size);
    value.bytes.resize(size);
    return status;
}

// RegSetValueExW counts a missing terminator in when the character after a
// text's bytes is NUL (Wine does as NT does), so the bytes go out with a
// guard after them and are stored exactly as they were read.
bool writeValue(HKEY root, const std::wstring& path, const wchar_t* name,
                const StoredValue& value) {
    constexpr BYTE kGuard = 0xFF;
    std::vector<BYTE> guarded = value.bytes;
    guarded.insert(guarded.end(), sizeof(wchar_t), kGuard);
    RegistryKey key;
    if (!key.create(root, path.c_str(), KEY_SET_VALUE)) return false;
    return RegSetValueExW(key.get(), name, 0, value.type, guarded.data(),
                          static_cast<DWORD>(value.bytes.size())) == ERROR_SUCCESS;
}

}  // namespace

// The newest other program's value is the one kept: it is what the shell
// used until Corvane took its place.
bool keepReplacedValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    StoredValue value;
    const LSTATUS status = readValue(root, path, name, value);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    return status == ERROR_SUCCESS && writeValue(root, copyPath(path), name, value);
}

bool giveBackReplacedValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    StoredValue value;
    if (readValue(root, copyPath(path), name, value) != ERROR_SUCCESS) return false;
    return writeValue(root, path, name, value);
}

void forgetReplacedValues(HKEY root) {
    RegDeleteTreeW(root, kReplacedValuesKey);
    deleteEmptyKeys(root, kSoftwareKey, kSettingsBelowSoftware);
}

}  // namespace cvwin
