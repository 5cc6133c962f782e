#pragma once

#include "core/render_settings.h"

namespace cvwin {

// Writes every rendering option under HKEY_CURRENT_USER, by the table the
// server reads them by; whether all were written (each is tried).
bool writeRenderSettings(const cv::RenderSettings& settings);

}  // namespace cvwin
