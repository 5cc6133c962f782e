#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/image_data.h"
#include "core/read_status.h"
#include "core/reader.h"

namespace cv {

// The pixels of one tile: its size along the image's three axes.
struct TileShape {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t planes = 1;
    std::uint64_t pixels() const { return width * height * planes; }
};

// Decodes the tiles of one compressed image one at a time, reading each
// tile's table row and heap bytes from the file and reusing its buffers.
// The block and the file must outlive it.
class TileDecoder {
public:
    TileDecoder(Reader& file, const ImageBlock& block, std::uint64_t maxTileBytes);

    // Tile `index` (the first axis's tiles fastest) of `shape` into `output`:
    // shape.pixels() samples in the block's sample format, native byte
    // order, the first axis fastest. Never throws: allocation failure is
    // TooLarge.
    [[nodiscard]] ReadStatus decode(std::uint64_t index, const TileShape& shape,
                                    std::span<std::uint8_t> output);

    // What the tiles decoded so far cost: table and heap bytes read, tiles.
    std::uint64_t bytesRead() const { return bytesRead_; }
    std::uint64_t tilesDecoded() const { return tilesDecoded_; }

private:
    // Where a decoded tile's values are: in integers_, or stored_ as `storedFormat`.
    struct TileData {
        bool fromIntegers = false;
        SampleFormat storedFormat = SampleFormat::None;
        bool quantised = false;
    };
    ReadStatus readRow(std::uint64_t index);
    ReadStatus readHeapArray(const TableField& field, std::vector<std::uint8_t>& bytes,
                             char& elementType);
    ReadStatus decodeData(const TileShape& shape, TileData& data);
    ReadStatus decodeIntegers(const TileShape& shape);
    ReadStatus decodeStored(const TileShape& shape, std::uint64_t storedBytes,
                            TileAlgorithm algorithm);
    double fieldOrKeyword(const std::optional<TableField>& field, double keyword) const;
    std::optional<std::int64_t> blankValue() const;
    std::int64_t unsignedOffset() const;

    Reader& file_;
    const ImageBlock& block_;
    const CompressedTiles& tiles_;
    std::uint64_t maxTileBytes_;
    std::vector<std::uint8_t> row_;
    std::vector<std::uint8_t> compressed_;
    std::vector<std::uint8_t> stored_;  // big-endian values, as a tile holds them
    std::vector<std::int32_t> integers_;
    std::uint64_t bytesRead_ = 0;
    std::uint64_t tilesDecoded_ = 0;
};

}  // namespace cv
