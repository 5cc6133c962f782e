#pragma once

#include <cstdint>

#include "core/image_data.h"
#include "core/reader.h"

namespace cv {

constexpr std::uint64_t kXisfPrefixSize = 16;  // signature, header length, reserved

// At least 16 bytes that begin with "XISF0100".
bool isXisf(Reader& reader);

// Reads the XML header, chooses an image (the largest for index -1, else by
// position) and fills `data` from it: geometry, format, data block, the
// default normalisation, thumbnail, colour filter array, keywords and
// properties. Blocks stored in the header (embedded Data elements and
// inline base64 text) are decoded into inlineData. Never throws.
[[nodiscard]] ReadStatus readXisf(Reader& reader, ImageData& data, std::int32_t imageIndex);

}  // namespace cv
