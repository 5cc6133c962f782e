#include "shell/registry_settings_win.h"

#include <optional>

#include "shell/fault_guard_win.h"
#include "shell/registry_key_win.h"
#include "shell/setting_values_win.h"

namespace cvwin {

namespace {

// The value when it is a REG_DWORD of exactly 4 bytes.
std::optional<DWORD> queryDword(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const ForeignCall call;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (type != REG_DWORD || size != sizeof value) return std::nullopt;
    return value;
}

}  // namespace

std::optional<DWORD> registryDword(HKEY root, const wchar_t* path, const wchar_t* name) {
    RegistryKey key;
    if (!key.open(root, path, KEY_QUERY_VALUE)) return std::nullopt;
    return queryDword(key.get(), name);
}

cv::RenderSettings readRenderSettings() {
    cv::RenderSettings settings;
    RegistryKey key;
    if (!key.open(HKEY_CURRENT_USER, kSettingsKey, KEY_QUERY_VALUE)) return settings;
    for (const SettingValue& value : settingValues()) {
        if (const auto stored = queryDword(key.get(), value.name)) value.restore(settings, *stored);
    }
    return settings;
}

std::wstring extensionSwitchName(std::wstring_view extension) {
    if (!extension.empty() && extension.front() == L'.') extension.remove_prefix(1);
    return L"Register" + std::wstring(extension);
}

bool extensionEnabled(HKEY root, std::wstring_view extension) {
    RegistryKey key;
    if (!key.open(root, kSettingsKey, KEY_QUERY_VALUE)) return true;
    const auto value = queryDword(key.get(), extensionSwitchName(extension).c_str());
    return !value || *value != 0;
}

}  // namespace cvwin
