#pragma once

#include <cstdint>
#include <optional>

namespace cv {

// The FITS tiled-image compression convention: an image stored as a binary
// table, one compressed tile per row, the tiles' bytes in the table's heap.
enum class TileAlgorithm : std::uint32_t {
    Rice = 1,
    Gzip1 = 2,
    Gzip2 = 3,
    Plio = 4,
    Hcompress = 5,
    NoCompress = 6,
};

enum class Quantization : std::uint32_t {
    None = 0,  // integer images, and floating-point tiles stored as they are
    NoDither = 1,
    SubtractiveDither1 = 2,
    SubtractiveDither2 = 3,
};

// A field of each table row: where it starts in the row and how it is stored.
struct TableField {
    std::uint64_t offset = 0;  // byte within the row
    char type = 0;             // TFORM's letter: the element type, or P / Q for a heap array
    char elementType = 0;      // for P and Q: the type of the array's elements
};

struct CompressedTiles {
    TileAlgorithm algorithm = TileAlgorithm::Rice;
    std::int32_t zbitpix = 0;
    std::uint64_t tileWidth = 0;  // ZTILE1, ZTILE2, ZTILE3
    std::uint64_t tileHeight = 1;
    std::uint64_t tilePlanes = 1;
    std::uint32_t bytePix = 0;  // Rice: bytes per coded pixel
    std::uint32_t blockSize = 32;
    bool smooth = false;  // HCOMPRESS

    // The table's rows start at the block's position; the heap lies
    // heapOffset bytes after them.
    std::uint64_t rowBytes = 0;
    std::uint64_t rowCount = 0;
    std::uint64_t heapOffset = 0;
    std::uint64_t heapBytes = 0;

    std::optional<TableField> compressed;  // COMPRESSED_DATA
    std::optional<TableField> gzipped;     // GZIP_COMPRESSED_DATA
    std::optional<TableField> uncompressed;
    std::optional<TableField> scaleField;  // ZSCALE, ZZERO, ZBLANK per tile
    std::optional<TableField> zeroField;
    std::optional<TableField> blankField;

    Quantization quantization = Quantization::None;
    double scale = 1.0;  // ZSCALE, ZZERO, ZBLANK keywords, where no field gives them
    double zero = 0.0;
    std::optional<std::int64_t> blank;
    std::int64_t ditherSeed = 1;  // ZDITHER0
};

}  // namespace cv
