#pragma once

#include <atomic>

#include "core/reader.h"
#include "core/render_settings.h"
#include "metadata/metadata.h"
#include "render/render_image.h"
#include "render/rgb_image.h"

namespace cv {

// What the preview pane shows of an image file.
struct PreviewPicture {
    RgbImage picture;
    ImageMetadata metadata;
};

// Renders the preview: first, when the file embeds a thumbnail, a quick pass
// that prefers it; then the full render. Of the two good pictures the one
// with more pixels wins, so a thumbnail larger than a budget-cut full render
// is kept, and a full render that fails falls back to the thumbnail. After a
// cancel only a quick picture already made is used. The header is read
// within the first pass's budget. Ok with a picture, or the status that left
// none. `clock` times the budgets (tests give their own). With a
// `laneThread`, both passes may add their later bands on it as well.
[[nodiscard]] ReadStatus loadPreviewPicture(Reader& reader, const RenderSettings& settings,
                                            const std::atomic<bool>* cancel, PreviewPicture& result,
                                            SteadyClock clock = steadyNowNs,
                                            LaneThread* laneThread = nullptr);

}  // namespace cv
