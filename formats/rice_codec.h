#pragma once

#include <cstdint>
#include <span>

#include "core/read_status.h"

namespace cv {

// Decodes one RICE_1 tile of output.size() pixels, each stored in `bytePix` bytes (1, 2 or 4),
// coded in blocks of `blockSize` pixels. Pixels come out as: bytePix 1 -> 0..255, bytePix 2 ->
// sign-extended int16, bytePix 4 -> int32.
//
// Malformed when the stream ends before every pixel is decoded or holds a code no encoder
// writes; Unsupported for another bytePix or a zero blockSize. Reads only `input`, writes only
// `output`, and does work in proportion to their sizes; bytes after the last block are ignored.
// After a failure the contents of `output` mean nothing.
[[nodiscard]] ReadStatus decodeRice(std::span<const std::uint8_t> input, std::uint32_t bytePix,
                                    std::uint32_t blockSize, std::span<std::int32_t> output);

}  // namespace cv
