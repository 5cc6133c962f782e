#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "core/reader.h"

namespace cv {

// Big-endian 8-byte samples from `start` on, read with their sign bit
// flipped: signed storage offset by 2^63 comes out as the unsigned values
// it stands for. The underlying reader must outlive it.
class SignFlippedReader final : public Reader {
public:
    SignFlippedReader(Reader& underlying, std::uint64_t start);
    std::uint64_t size() const override { return underlying_->size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    bool readRanges(std::span<const ReadRequest> requests) override;
    bool servesBatches() const override { return underlying_->servesBatches(); }
    std::unique_ptr<Reader> twin() override;
    ReadStatus failure() const override { return underlying_->failure(); }

private:
    void flip(std::uint64_t offset, void* destination, std::uint64_t count) const;

    Reader* underlying_;
    std::unique_ptr<Reader> ownTwin_;  // when this one serves a second thread
    std::uint64_t start_;
};

}  // namespace cv
