#include "shell/registry_settings_win.h"

#include <optional>

#include "shell/fault_guard_win.h"
#include "shell/registry_key_win.h"

namespace cvwin {

namespace {


// The value when it is a REG_DWORD of exactly 4 bytes.
std::optional<DWORD> queryDword(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const ForeignCall call;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (type != REG_DWORD || size != sizeof value) return std::nullopt;
    return value;
}

bool flag(HKEY key, const wchar_t* name, bool fallback) {
    const auto value = queryDword(key, name);
    return value ? *value != 0 : fallback;
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
    settings.autoStretch = flag(key.get(), L"AutoStretch", settings.autoStretch);
    settings.labelFormat = flag(key.get(), L"LabelFormat", settings.labelFormat);
    if (const auto corner = queryDword(key.get(), L"LabelCorner")) settings.labelCorner = cv::storedLabelCorner(*corner);
    settings.previewDarkBackground = flag(key.get(), L"PreviewDarkBackground", settings.previewDarkBackground);
    settings.previewSidebar = flag(key.get(), L"PreviewSidebar", settings.previewSidebar);
    if (const auto brightness = queryDword(key.get(), L"Brightness")) settings.brightness = cv::storedBrightness(*brightness);
    if (const auto cfaMode = queryDword(key.get(), L"CfaMode")) settings.cfaMode = cv::storedCfaMode(*cfaMode);
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
