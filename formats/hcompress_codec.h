#pragma once

#include <cstdint>
#include <span>

#include "core/read_status.h"

namespace cv {

// What a decode cost in the only units that depend on the stream's content:
// quadtree and bitmap cells visited (the rest is fixed by the tile's size).
struct HcompressWork {
    std::uint64_t cells = 0;
};

// Decodes one HCOMPRESS_1 tile of width x height pixels (width = the tile's first FITS axis,
// varying fastest in `output`), undoing the H-transform with the stream's own scale; `smooth`
// applies the convention's smoothing (the SMOOTH parameter) level by level while undoing it.
// output.size() == width * height. Malformed for a stream that is not exactly such a tile (wrong
// magic or size, too short, impossible bit-plane counts, codes the encoder cannot write) or an
// output of another size; TooLarge past the tile limit or when memory runs out. Never throws;
// `output` holds the tile only after Ok.
[[nodiscard]] ReadStatus decodeHcompress(std::span<const std::uint8_t> input, std::uint32_t width,
                                         std::uint32_t height, bool smooth,
                                         std::span<std::int32_t> output);

// The same, adding its work to `work`.
[[nodiscard]] ReadStatus decodeHcompress(std::span<const std::uint8_t> input, std::uint32_t width,
                                         std::uint32_t height, bool smooth,
                                         std::span<std::int32_t> output, HcompressWork& work);

}  // namespace cv
