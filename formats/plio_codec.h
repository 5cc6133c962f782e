#pragma once

#include <cstdint>
#include <span>

#include "core/read_status.h"

namespace cv {

// Decodes one PLIO_1 tile (an IRAF PLIO line list; `input` is the heap bytes: big-endian 16-bit
// words) into output.size() pixels. Both header layouts IRAF writes are read: the three-word
// one and the longer one marked by a negative version word.
//
// Malformed when the list's runs do not cover the output exactly, when its length overruns the
// input, for an unknown instruction, or for a mask value outside 0 .. 2^27 - 1. Reads only
// `input`, writes only `output`, and does work in proportion to their sizes; bytes after the
// list are ignored. After a failure the contents of `output` mean nothing.
[[nodiscard]] ReadStatus decodePlio(std::span<const std::uint8_t> input,
                                    std::span<std::int32_t> output);

}  // namespace cv
