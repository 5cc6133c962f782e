#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/image_data.h"
#include "core/reader.h"
#include "formats/data_block.h"
#include "formats/tile_decoder.h"

namespace cv {

// A compressed image's samples as if they were stored whole (planes, rows,
// native byte order), decoded band by band as they are read: a band is the
// row of tiles across the image that holds the rows asked for, kept while
// the cache has room; `checkpoint` is asked between tiles, by a twin's
// thread too, so it must be safe to call from two. The file and the block
// must outlive it.
class TiledImageReader final : public Reader {
public:
    TiledImageReader(Reader& file, const ImageBlock& block, std::uint64_t maxTileBytes,
                     DecodeCheckpoint checkpoint = {});

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    std::unique_ptr<Reader> twin() override;
    ReadStatus failure() const override { return failure_; }

    const TileDecoder& decoder() const { return decoder_; }

private:
    struct Band {
        std::uint64_t tileRow = 0;
        std::uint64_t tilePlane = 0;
        std::vector<std::uint8_t> bytes;
    };
    const Band* bandHolding(std::uint64_t plane, std::uint64_t row);
    std::uint64_t bandBytes(std::uint64_t tileRow, std::uint64_t tilePlane) const;
    ReadStatus decodeBand(Band& band);
    bool fail(ReadStatus status);

    Reader& file_;
    std::unique_ptr<Reader> ownTwin_;  // the file's twin, when this one is a twin
    const ImageBlock& block_;
    const CompressedTiles& tiles_;
    std::uint64_t maxTileBytes_;
    DecodeCheckpoint checkpoint_;
    TileDecoder decoder_;
    std::uint64_t rowBytes_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t tilesAcross_ = 0;
    std::uint64_t tilesDown_ = 0;
    std::uint64_t planeGroups_ = 1;  // tiles along the planes
    // Bands decoded, oldest first, and found by tile row and plane group;
    // a deque keeps each band where it is while others come and go.
    std::deque<Band> cache_;
    std::unordered_map<std::uint64_t, const Band*> cachedBands_;
    std::uint64_t cachedBytes_ = 0;
    std::uint64_t cacheBytes_ = 0;  // what the cache may hold
    std::vector<std::uint8_t> tile_;
    ReadStatus failure_ = ReadStatus::ReadFailed;
};

}  // namespace cv
