#include "core/render_settings.h"

namespace cv {

LabelCorner storedLabelCorner(std::uint32_t stored) {
    return stored <= static_cast<std::uint32_t>(LabelCorner::BottomRight)
               ? static_cast<LabelCorner>(stored)
               : LabelCorner::BottomRight;
}

Brightness storedBrightness(std::uint32_t stored) {
    return stored <= static_cast<std::uint32_t>(Brightness::Brighter)
               ? static_cast<Brightness>(stored)
               : Brightness::Standard;
}

CfaMode storedCfaMode(std::uint32_t stored) {
    return stored <= static_cast<std::uint32_t>(CfaMode::AlwaysMono) ? static_cast<CfaMode>(stored)
                                                                     : CfaMode::Automatic;
}

float targetBackgroundFor(Brightness brightness) {
    switch (brightness) {
        case Brightness::Darker:
            return 0.15f;
        case Brightness::Brighter:
            return 0.35f;
        case Brightness::Standard:
            break;
    }
    return 0.25f;
}

}  // namespace cv
