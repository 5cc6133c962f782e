#pragma once

#include <cstdint>

#include "core/image_data.h"
#include "core/reader.h"

namespace cv {

// Passed as the image index to let the reader choose the main image itself.
constexpr std::int32_t kChooseMainImage = -1;

// Recognises the file by its signature (classifyImageFile) and lets the
// matching reader fill `data`, headers only; other kinds are NotRecognized.
// The record is reset first; after a failure it must not be used for
// rendering. std::bad_alloc from the FITS reader is left to the caller.
[[nodiscard]] ReadStatus readImageHeader(Reader& reader, ImageData& data,
                                         std::int32_t imageIndex = kChooseMainImage);

}  // namespace cv
