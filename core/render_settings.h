#pragma once

#include <cstdint>

namespace cv {

// The numbers are those stored in the registry: keep them.
enum class LabelCorner : std::uint32_t {
    TopLeft = 0,
    TopRight = 1,
    BottomLeft = 2,
    BottomRight = 3
};
enum class Brightness : std::uint32_t { Darker = 0, Standard = 1, Brighter = 2 };
enum class CfaMode : std::uint32_t { Automatic = 0, AlwaysColor = 1, AlwaysMono = 2 };

// How the user wants pictures rendered. On Windows these come from the
// registry; the Linux tool takes them from its flags.
struct RenderSettings {
    bool autoStretch = true;
    bool labelFormat = false;
    LabelCorner labelCorner = LabelCorner::BottomRight;
    Brightness brightness = Brightness::Standard;
    CfaMode cfaMode = CfaMode::Automatic;
    bool previewDarkBackground = true;
    bool previewSidebar = true;
};

// Stored numbers as settings: out-of-range values fall back as the settings
// program would never have written them.
LabelCorner storedLabelCorner(std::uint32_t stored);  // 3 and above: bottom right
Brightness storedBrightness(std::uint32_t stored);    // 3 and above: standard
CfaMode storedCfaMode(std::uint32_t stored);          // 3 and above: automatic

// The display level the image median is stretched to: 0.15, 0.25 or 0.35.
float targetBackgroundFor(Brightness brightness);

}  // namespace cv
