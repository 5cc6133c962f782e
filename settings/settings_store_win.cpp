#include "settings/settings_store_win.h"

#include <windows.h>

#include "shell/registry_key_win.h"
#include "shell/registry_settings_win.h"
#include "shell/setting_values_win.h"

namespace cvwin {

bool writeRenderSettings(const cv::RenderSettings& settings) {
    RegistryKey key;
    if (!key.create(HKEY_CURRENT_USER, kSettingsKey, KEY_SET_VALUE)) return false;
    bool written = true;
    for (const SettingValue& value : settingValues()) {
        const DWORD stored = value.stored(settings);
        written = RegSetValueExW(key.get(), value.name, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&stored),
                                 sizeof stored) == ERROR_SUCCESS &&
                  written;
    }
    return written;
}

}  // namespace cvwin
