#include "formats/tiled_image_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/text_utils.h"

namespace cv {

namespace {

// Decoded bands kept for later reads: enough for a pass's rows of 64-row
// tiles across a wide frame, small beside the accumulator.
constexpr std::uint64_t kBandCacheBytes = 16 * 1024 * 1024;

std::uint64_t tilesAlong(std::uint64_t length, std::uint64_t tile) {
    return (length + tile - 1) / tile;
}

}  // namespace

TiledImageReader::TiledImageReader(Reader& file, const ImageBlock& block,
                                   std::uint64_t maxTileBytes, DecodeCheckpoint checkpoint)
    : file_(file),
      block_(block),
      tiles_(*block.tiles),
      maxTileBytes_(maxTileBytes),
      checkpoint_(std::move(checkpoint)),
      decoder_(file, block, maxTileBytes) {
    const auto size = blockByteSize(block);
    if (!size || tiles_.tileWidth == 0 || tiles_.tileHeight == 0 || tiles_.tilePlanes == 0) return;
    size_ = *size;
    rowBytes_ = block.width * bytesPerSample(block.sampleFormat);
    tilesAcross_ = tilesAlong(block.width, tiles_.tileWidth);
    tilesDown_ = tilesAlong(block.height, tiles_.tileHeight);
    // A fetch asks for the same rows of every plane in turn: the bands of
    // one tile row across all planes must fit, or each fetch decodes them all again.
    planeGroups_ = tilesAlong(block.channels, tiles_.tilePlanes);
    const auto across = safeMultiply(bandBytes(0, 0), planeGroups_);
    cacheBytes_ = std::max(kBandCacheBytes, std::min(across.value_or(0), maxTileBytes_));
}

bool TiledImageReader::fail(ReadStatus status) {
    failure_ = status;
    return false;
}

// Bytes of a band's decoded rows; 0 when they cannot be counted.
std::uint64_t TiledImageReader::bandBytes(std::uint64_t tileRow, std::uint64_t tilePlane) const {
    const std::uint64_t rows =
        std::min(tiles_.tileHeight, block_.height - tileRow * tiles_.tileHeight);
    const std::uint64_t planes =
        std::min(tiles_.tilePlanes, block_.channels - tilePlane * tiles_.tilePlanes);
    const auto bandRows = safeMultiply(rows, planes);
    const auto bytes = bandRows ? safeMultiply(*bandRows, rowBytes_) : std::nullopt;
    return bytes.value_or(0);
}

ReadStatus TiledImageReader::decodeBand(Band& band) {
    const std::uint64_t bps = bytesPerSample(block_.sampleFormat);
    const std::uint64_t firstRow = band.tileRow * tiles_.tileHeight;
    const std::uint64_t firstPlane = band.tilePlane * tiles_.tilePlanes;
    const std::uint64_t rows = std::min(tiles_.tileHeight, block_.height - firstRow);
    const std::uint64_t planes = std::min(tiles_.tilePlanes, block_.channels - firstPlane);
    const std::uint64_t bytes = bandBytes(band.tileRow, band.tilePlane);
    if (bytes == 0 || bytes > maxTileBytes_) return ReadStatus::TooLarge;
    const std::uint64_t bandRows = rows * planes;
    try {
        band.bytes.resize(static_cast<std::size_t>(bytes));  // a recycled band's memory, usually
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
    for (std::uint64_t across = 0; across < tilesAcross_; ++across) {
        if (checkpoint_) {
            const ReadStatus status = checkpoint_();
            if (status != ReadStatus::Ok) return status;
        }
        const std::uint64_t firstColumn = across * tiles_.tileWidth;
        const TileShape shape{std::min(tiles_.tileWidth, block_.width - firstColumn), rows, planes};
        const std::uint64_t index =
            across + tilesAcross_ * (band.tileRow + tilesDown_ * band.tilePlane);
        try {
            tile_.resize(static_cast<std::size_t>(shape.pixels() * bps));
        } catch (const std::bad_alloc&) {
            return ReadStatus::TooLarge;
        }
        const ReadStatus status = decoder_.decode(index, shape, tile_);
        if (status != ReadStatus::Ok) return status;
        const std::uint64_t tileRowBytes = shape.width * bps;
        for (std::uint64_t r = 0; r < bandRows; ++r) {
            std::memcpy(band.bytes.data() + r * rowBytes_ + firstColumn * bps,
                        tile_.data() + r * tileRowBytes, static_cast<std::size_t>(tileRowBytes));
        }
    }
    return ReadStatus::Ok;
}

const TiledImageReader::Band* TiledImageReader::bandHolding(std::uint64_t plane,
                                                            std::uint64_t row) {
    const std::uint64_t tileRow = row / tiles_.tileHeight;
    const std::uint64_t tilePlane = plane / tiles_.tilePlanes;
    const std::uint64_t key = tileRow * planeGroups_ + tilePlane;
    if (const auto cached = cachedBands_.find(key); cached != cachedBands_.end())
        return cached->second;
    Band band{tileRow, tilePlane, {}};
    // The oldest band gives its memory to the new one while the cache is full.
    const std::uint64_t expected = bandBytes(tileRow, tilePlane);
    while (!cache_.empty() && cachedBytes_ + expected > cacheBytes_) {
        Band& oldest = cache_.front();
        cachedBytes_ -= oldest.bytes.size();
        band.bytes.swap(oldest.bytes);
        cachedBands_.erase(oldest.tileRow * planeGroups_ + oldest.tilePlane);
        cache_.pop_front();
    }
    const ReadStatus status = decodeBand(band);
    if (status != ReadStatus::Ok) {
        failure_ = status;
        return nullptr;
    }
    try {
        cache_.push_back(std::move(band));
        cachedBands_.emplace(key, &cache_.back());
    } catch (const std::bad_alloc&) {
        cache_.clear();
        cachedBands_.clear();
        cachedBytes_ = 0;
        failure_ = ReadStatus::TooLarge;
        return nullptr;
    }
    cachedBytes_ += cache_.back().bytes.size();
    return &cache_.back();
}

bool TiledImageReader::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    if (!rangeWithin(offset, count, size_)) return fail(ReadStatus::Truncated);
    auto* out = static_cast<std::uint8_t*>(destination);
    const std::uint64_t planeBytes = rowBytes_ * block_.height;
    // Each step copies what one stored row holds of the range.
    while (count > 0) {
        const std::uint64_t plane = offset / planeBytes;
        const std::uint64_t row = (offset % planeBytes) / rowBytes_;
        const std::uint64_t column = offset % rowBytes_;
        const Band* band = bandHolding(plane, row);
        if (band == nullptr) return false;
        const std::uint64_t bandRow =
            (plane - band->tilePlane * tiles_.tilePlanes) *
                std::min(tiles_.tileHeight, block_.height - band->tileRow * tiles_.tileHeight) +
            (row - band->tileRow * tiles_.tileHeight);
        const std::uint64_t piece = std::min(count, rowBytes_ - column);
        std::memcpy(out, band->bytes.data() + bandRow * rowBytes_ + column,
                    static_cast<std::size_t>(piece));
        out += piece;
        offset += piece;
        count -= piece;
    }
    return true;
}

std::unique_ptr<Reader> TiledImageReader::twin() {
    auto file = file_.twin();
    if (!file) return nullptr;
    auto reader = std::make_unique<TiledImageReader>(*file, block_, maxTileBytes_, checkpoint_);
    reader->ownTwin_ = std::move(file);
    return reader;
}

}  // namespace cv
