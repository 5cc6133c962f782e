#pragma once

#include <string>

namespace cv {

// The texts the preview shows for a file that is listed rather than drawn.
struct PreviewListing {
    std::u16string title;
    std::u16string subtitle;
    std::u16string note;
    std::u16string body;
    bool wrapLines = true;  // false: the text box scrolls sideways instead
};

}  // namespace cv
