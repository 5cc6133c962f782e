#pragma once

#include <windows.h>

#include <span>

#include "core/render_settings.h"

namespace cvwin {

// One of the user's rendering options as the registry holds it: a REG_DWORD
// under HKEY_CURRENT_USER\<kSettingsKey>, and the way between that number and
// the settings record.
struct SettingValue {
    const wchar_t* name;
    DWORD (*stored)(const cv::RenderSettings& settings);
    void (*restore)(cv::RenderSettings& settings,
                    DWORD stored);  // any number: out-of-range ones fall back
};

// Every stored option, once: the server reads by this table and the settings
// program writes by it.
std::span<const SettingValue> settingValues();

}  // namespace cvwin
