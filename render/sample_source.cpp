#include "render/sample_source.h"

#include <algorithm>
#include <new>
#include <span>

namespace cv {

namespace {

constexpr std::uint64_t kBlockReadPieceBytes = 8 * 1024 * 1024;  // stored blocks are read in pieces

}  // namespace

ReadStatus SampleSource::readStored(Reader& file, const ImageBlock& block,
                                    const DecodeCheckpoint& checkpoint) {
    for (std::uint64_t done = 0; done < block.size;) {
        const std::uint64_t piece = std::min(block.size - done, kBlockReadPieceBytes);
        ReadStatus status = readExact(file, block.position + done, stored_.data() + done, piece);
        if (status == ReadStatus::Ok) status = checkpoint();
        if (status != ReadStatus::Ok) return status;
        done += piece;
    }
    return ReadStatus::Ok;
}

ReadStatus SampleSource::load(Reader& file, const ImageBlock& block, std::uint64_t maxBlockBytes,
                              const DecodeCheckpoint& checkpoint) {
    if (block.tiles) {
        tiled_.emplace(file, block, maxBlockBytes, checkpoint);
        samples_ = &*tiled_;
        start_ = 0;
        decompressed_ = true;
        return ReadStatus::Ok;
    }
    if (block.location == DataLocation::Attachment && block.codec == Codec::None) {
        samples_ = &file;
        start_ = block.position;
        if (block.signBitFlipped) {
            flipped_.emplace(file, block.position);
            samples_ = &*flipped_;
        }
        return ReadStatus::Ok;
    }
    std::span<const std::uint8_t> bytes = block.inlineData;
    if (block.location == DataLocation::Attachment) {
        if (block.size > maxBlockBytes) return ReadStatus::TooLarge;
        try {
            stored_.assign(static_cast<std::size_t>(block.size), 0);
        } catch (const std::bad_alloc&) {
            return ReadStatus::TooLarge;
        }
        const ReadStatus status = readStored(file, block, checkpoint);
        if (status != ReadStatus::Ok) return status;
        bytes = stored_;
    } else if (bytes.empty()) {
        return ReadStatus::Unsupported;
    }
    start_ = 0;
    if (block.codec != Codec::None) {
        // Shuffled bytes stay as decoded; the rows sampled are gathered as they are read.
        ImageBlock decoding;
        decoding.codec = block.codec;
        decoding.uncompressedSize = block.uncompressedSize;
        const ReadStatus status =
            decodeBlock(bytes.data(), bytes.size(), decoding, decoded_, maxBlockBytes, checkpoint);
        if (status != ReadStatus::Ok) return status;
        stored_ = LargeBytes();  // "= {}" would only empty it and keep the memory
        decompressed_ = true;
        if (block.byteShuffled) {
            unshuffled_.emplace(decoded_.data(), decoded_.size(), block.shuffleItemSize);
            samples_ = &*unshuffled_;
            return ReadStatus::Ok;
        }
        bytes = decoded_;
    }
    memory_.emplace(bytes.data(), bytes.size());
    samples_ = &*memory_;
    return ReadStatus::Ok;
}

void SampleSource::release() {
    memory_.reset();
    unshuffled_.reset();
    flipped_.reset();
    tiled_.reset();
    stored_ = LargeBytes();
    decoded_ = LargeBytes();
    samples_ = nullptr;
}

}  // namespace cv
