#pragma once

#include <cstdint>

namespace cv {

// How the user wants pictures rendered. On Windows these come from the
// registry; the Linux tool takes them from its flags.
struct RenderSettings {
    bool autoStretch = true;
    bool labelFormat = false;
    std::uint32_t labelCorner = 3;  // 0 top left, 1 top right, 2 bottom left, 3 bottom right
    std::uint32_t brightness = 1;   // 0 darker, 1 standard, 2 brighter
    std::uint32_t cfaMode = 0;      // 0 automatic, 1 always colour, 2 always mono
    bool previewDarkBackground = true;
    bool previewSidebar = true;
};

constexpr std::uint32_t kCfaAutomatic = 0;
constexpr std::uint32_t kCfaAlwaysColor = 1;
constexpr std::uint32_t kCfaAlwaysMono = 2;

// Range rules for stored numbers: out-of-range values fall back as the
// settings program would never have written them.
std::uint32_t clampLabelCorner(std::uint32_t stored);  // 3 and above become 3
std::uint32_t clampBrightness(std::uint32_t stored);   // 3 and above become 1
std::uint32_t clampCfaMode(std::uint32_t stored);      // 3 and above become 0

// The display level the image median is stretched to: 0.15, 0.25 or 0.35.
float targetBackgroundFor(std::uint32_t brightness);

}  // namespace cv
