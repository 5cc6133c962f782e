#include "core/render_settings.h"

namespace cv {

std::uint32_t clampLabelCorner(std::uint32_t stored) { return stored < 3 ? stored : 3; }

std::uint32_t clampBrightness(std::uint32_t stored) { return stored < 3 ? stored : 1; }

std::uint32_t clampCfaMode(std::uint32_t stored) { return stored < 3 ? stored : kCfaAutomatic; }

float targetBackgroundFor(std::uint32_t brightness) {
    switch (brightness) {
        case 0: return 0.15f;
        case 2: return 0.35f;
        default: return 0.25f;
    }
}

}  // namespace cv
