#include "render/sign_flipped_reader.h"

namespace cv {

namespace {

constexpr std::uint64_t kSampleBytes = 8;
constexpr std::uint8_t kSignBit = 0x80;  // of a big-endian sample's first byte

}  // namespace

SignFlippedReader::SignFlippedReader(Reader& underlying, std::uint64_t start)
    : underlying_(&underlying), start_(start) {}

void SignFlippedReader::flip(std::uint64_t offset, void* destination, std::uint64_t count) const {
    auto* bytes = static_cast<std::uint8_t*>(destination);
    std::uint64_t first = 0;
    if (offset < start_) {
        if (start_ - offset >= count) return;
        first = start_ - offset;
    }
    const std::uint64_t phase = (offset + first - start_) % kSampleBytes;
    if (phase != 0) first += kSampleBytes - phase;
    for (std::uint64_t i = first; i < count; i += kSampleBytes) bytes[i] ^= kSignBit;
}

bool SignFlippedReader::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    if (!underlying_->read(offset, destination, count)) return false;
    flip(offset, destination, count);
    return true;
}

bool SignFlippedReader::readRanges(std::span<const ReadRequest> requests) {
    if (!underlying_->readRanges(requests)) return false;
    for (const auto& request : requests) flip(request.offset, request.destination, request.count);
    return true;
}

std::unique_ptr<Reader> SignFlippedReader::twin() {
    auto other = underlying_->twin();
    if (!other) return nullptr;
    auto flipped = std::make_unique<SignFlippedReader>(*other, start_);
    flipped->ownTwin_ = std::move(other);
    return flipped;
}

}  // namespace cv
