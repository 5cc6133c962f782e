#include "formats/rice_codec.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <optional>

namespace cv {

namespace {

constexpr std::uint64_t lowBits(std::uint32_t count) {
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// What the pixel width fixes. Each block opens with a code of `codeBits` bits: 0 for a block
// whose differences are all zero, `rawCode` for differences stored whole in `pixelBits` bits,
// anything between for Rice-coded differences whose lowest (code - 1) bits are stored as they
// are. Codes above `rawCode` are never written.
struct RiceLayout {
    std::uint32_t pixelBits;
    std::uint32_t codeBits;
    std::uint32_t rawCode;
};

std::optional<RiceLayout> layoutFor(std::uint32_t bytePix) {
    switch (bytePix) {
        case 1:
            return RiceLayout{8, 3, 7};
        case 2:
            return RiceLayout{16, 4, 15};
        case 4:
            return RiceLayout{32, 5, 26};
        default:
            return std::nullopt;
    }
}

// Bits most significant first, as the encoder packs them; never reads past its bytes.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    // The next `count` (at most 32) bits as a number; false past the end of the input.
    bool read(std::uint32_t count, std::uint32_t& value) {
        value = 0;
        if (count == 0) return true;
        refill();
        if (held_ < count) return false;
        held_ -= count;
        value = static_cast<std::uint32_t>((window_ >> held_) & lowBits(count));
        return true;
    }

    // The length of a run of zero bits and the one bit that ends it; false past the end of the
    // input or when the run is longer than `maxZeros`.
    bool readZeroRun(std::uint64_t maxZeros, std::uint64_t& zeros) {
        zeros = 0;
        // Each pass either ends the run or consumes every held bit, so the input bounds it.
        for (refill(); held_ > 0; refill()) {
            const std::uint64_t pending = window_ << (kWindowBits - held_);
            if (pending != 0) {
                const auto leading = static_cast<std::uint32_t>(std::countl_zero(pending));
                zeros += leading;
                held_ -= leading + 1;
                return zeros <= maxZeros;
            }
            zeros += held_;
            held_ = 0;
        }
        return false;
    }

private:
    static constexpr std::uint32_t kWindowBits = 64;  // bits the reader holds at most

    void refill() {
        // Whole bytes eight at a time while the input has them, then one by one.
        if (held_ + 8 <= kWindowBits && bytes_.size() - next_ >= sizeof(std::uint64_t)) {
            std::uint64_t loaded = 0;
            for (std::size_t i = 0; i < sizeof loaded; ++i)
                loaded = loaded << 8 | bytes_[next_ + i];
            const std::uint32_t taken = (kWindowBits - held_) / 8;
            window_ = taken == sizeof loaded
                          ? loaded
                          : (window_ << (8 * taken)) | (loaded >> (kWindowBits - 8 * taken));
            next_ += taken;
            held_ += 8 * taken;
            return;
        }
        while (held_ + 8 <= kWindowBits && next_ < bytes_.size()) {
            window_ = window_ << 8 | bytes_[next_++];
            held_ += 8;
        }
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t next_ = 0;
    std::uint64_t window_ = 0;  // the lowest `held_` bits are the next ones
    std::uint32_t held_ = 0;
};

// The encoder folds signed differences onto unsigned ones: 0, -1, 1, -2 ... -> 0, 1, 2, 3 ...
std::uint32_t unfolded(std::uint32_t folded) {
    return (folded & 1u) != 0 ? ~(folded >> 1) : folded >> 1;
}

// Differences wrap at the pixel width, so only the low bits of the running value count.
std::int32_t narrowed(std::uint32_t value, std::uint32_t pixelBits) {
    switch (pixelBits) {
        case 8:
            return static_cast<std::int32_t>(value & 0xFFu);
        case 16:
            return static_cast<std::int16_t>(value);
        default:
            return static_cast<std::int32_t>(value);
    }
}

// Decodes one block, whose opening code is read, carrying the running pixel value across.
bool decodeBlock(BitReader& bits, const RiceLayout& layout, std::uint32_t code,
                 std::uint32_t& pixel, std::span<std::int32_t> block) {
    if (code == 0) {
        std::fill(block.begin(), block.end(), narrowed(pixel, layout.pixelBits));
        return true;
    }
    if (code > layout.rawCode) return false;
    const bool raw = code == layout.rawCode;
    const std::uint32_t split = code - 1;
    // A longer quotient would code a difference wider than the pixel.
    const std::uint64_t maxQuotient = lowBits(layout.pixelBits) >> split;
    for (std::int32_t& out : block) {
        std::uint32_t folded = 0;
        if (raw) {
            if (!bits.read(layout.pixelBits, folded)) return false;
        } else {
            std::uint64_t quotient = 0;
            std::uint32_t remainder = 0;
            if (!bits.readZeroRun(maxQuotient, quotient) || !bits.read(split, remainder))
                return false;
            folded = static_cast<std::uint32_t>(quotient << split | remainder);
        }
        pixel += unfolded(folded);
        out = narrowed(pixel, layout.pixelBits);
    }
    return true;
}

}  // namespace

ReadStatus decodeRice(std::span<const std::uint8_t> input, std::uint32_t bytePix,
                      std::uint32_t blockSize, std::span<std::int32_t> output) {
    const std::optional<RiceLayout> layout = layoutFor(bytePix);
    if (!layout || blockSize == 0) return ReadStatus::Unsupported;
    BitReader bits(input);
    // The first pixel is stored whole; every pixel, the first too, is a difference from the last.
    std::uint32_t pixel = 0;
    if (!bits.read(layout->pixelBits, pixel)) return ReadStatus::Malformed;
    // Each pass fills at least one pixel, so the output bounds the loop.
    for (std::size_t done = 0; done < output.size();) {
        const std::size_t count = std::min<std::size_t>(blockSize, output.size() - done);
        std::uint32_t code = 0;
        if (!bits.read(layout->codeBits, code) ||
            !decodeBlock(bits, *layout, code, pixel, output.subspan(done, count)))
            return ReadStatus::Malformed;
        done += count;
    }
    return ReadStatus::Ok;
}

}  // namespace cv
