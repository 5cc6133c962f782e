#pragma once

#include <cstdint>
#include <optional>

#include "core/image_data.h"
#include "core/large_allocator.h"
#include "core/reader.h"
#include "formats/data_block.h"
#include "formats/tiled_image_reader.h"
#include "render/sign_flipped_reader.h"

namespace cv {

// Where a block's samples are read from: the file itself for a plain
// attachment; tiles decoded as their rows are read for a tiled one; otherwise the block read whole
// (in pieces, asking `checkpoint` between them), decoded, and lent from memory, a shuffled block
// through a reader that gathers only the bytes asked for.
class SampleSource {
public:
    SampleSource() = default;
    SampleSource(const SampleSource&) = delete;  // it may lend from itself
    SampleSource& operator=(const SampleSource&) = delete;

    [[nodiscard]] ReadStatus load(Reader& file, const ImageBlock& block,
                                  std::uint64_t maxBlockBytes, const DecodeCheckpoint& checkpoint);

    // After a successful load: the samples, the first sample's byte there,
    // and whether a codec was undone.
    Reader& samples() const { return *samples_; }
    std::uint64_t start() const { return start_; }
    bool decompressed() const { return decompressed_; }
    // Gives back the memory of a block loaded; samples() is then unusable.
    void release();

private:
    ReadStatus readStored(Reader& file, const ImageBlock& block,
                          const DecodeCheckpoint& checkpoint);

    LargeBytes stored_;
    LargeBytes decoded_;
    std::optional<MemoryReader> memory_;
    std::optional<UnshufflingReader> unshuffled_;
    std::optional<SignFlippedReader> flipped_;
    std::optional<TiledImageReader> tiled_;
    Reader* samples_ = nullptr;
    std::uint64_t start_ = 0;
    bool decompressed_ = false;
};

}  // namespace cv
