#pragma once

#include "core/image_data.h"
#include "core/reader.h"

namespace cv {

// The source is at least one FITS block long and its first card is
// "SIMPLE  = T" (or t), a comment allowed.
bool isFits(Reader& reader);

// Walks the header-and-data units, picks the largest image and fills `data`
// from its header: geometry, format, data position, normalisation, Bayer
// pattern and keywords. Reads header blocks only. Memory exhaustion while
// storing keywords is not a status: std::bad_alloc leaves this function.
[[nodiscard]] ReadStatus readFits(Reader& reader, ImageData& data);

}  // namespace cv
