#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/render_settings.h"

namespace cvwin {

// "Software\\Mirelith\\Corvane" under HKEY_CURRENT_USER (settings) or the
// install root (registration switches).
inline constexpr const wchar_t* kSettingsKey = L"Software\\Mirelith\\Corvane";

// A REG_DWORD of exactly 4 bytes under root\path; nothing otherwise.
std::optional<DWORD> registryDword(HKEY root, const wchar_t* path, const wchar_t* name);

// The user's settings, read afresh; absent or mistyped values take their defaults.
cv::RenderSettings readRenderSettings();

// Whether registration serves the extension (with or without its dot): only a
// REG_DWORD "Register<ext>" of 0 turns it off.
bool extensionEnabled(HKEY root, std::wstring_view extension);

// The value that switches an extension, with or without its dot: "Register" and the extension.
std::wstring extensionSwitchName(std::wstring_view extension);

}  // namespace cvwin
