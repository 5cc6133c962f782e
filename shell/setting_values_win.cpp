#include "shell/setting_values_win.h"

namespace cvwin {

namespace {

// A switch of the record, stored as 1 or 0 and read as "anything but 0".
template <bool cv::RenderSettings::*Field>
constexpr SettingValue flag(const wchar_t* name) {
    return {name,
            [](const cv::RenderSettings& settings) -> DWORD { return settings.*Field ? 1 : 0; },
            [](cv::RenderSettings& settings, DWORD stored) { settings.*Field = stored != 0; }};
}

// A choice of the record, stored as its enum's number.
template <typename Choice, Choice cv::RenderSettings::*Field, Choice (*fromStored)(std::uint32_t)>
constexpr SettingValue choice(const wchar_t* name) {
    return {
        name,
        [](const cv::RenderSettings& settings) { return static_cast<DWORD>(settings.*Field); },
        [](cv::RenderSettings& settings, DWORD stored) { settings.*Field = fromStored(stored); }};
}

using Settings = cv::RenderSettings;

constexpr SettingValue kSettingValues[] = {
    flag<&Settings::autoStretch>(L"AutoStretch"),
    flag<&Settings::labelFormat>(L"LabelFormat"),
    choice<cv::LabelCorner, &Settings::labelCorner, cv::storedLabelCorner>(L"LabelCorner"),
    flag<&Settings::previewDarkBackground>(L"PreviewDarkBackground"),
    flag<&Settings::previewSidebar>(L"PreviewSidebar"),
    choice<cv::Brightness, &Settings::brightness, cv::storedBrightness>(L"Brightness"),
    choice<cv::CfaMode, &Settings::cfaMode, cv::storedCfaMode>(L"CfaMode"),
};

}  // namespace

std::span<const SettingValue> settingValues() {
    return kSettingValues;
}

}  // namespace cvwin
