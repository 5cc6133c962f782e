#include "formats/plio_codec.h"

#include <algorithm>
#include <cstddef>
#include <optional>

namespace cv {

namespace {

// An instruction word is a 3-bit opcode over 12 bits of data.
constexpr std::uint32_t kDataBits = 12;  // bits
constexpr std::uint32_t kDataMask = (1u << kDataBits) - 1;

enum Opcode : std::uint32_t {
    kZeros = 0,             // data zeros
    kSetValue = 1,          // value = next word * 4096 + data
    kIncreaseValue = 2,     // value += data
    kDecreaseValue = 3,     // value -= data
    kValues = 4,            // data copies of value
    kZerosThenValue = 5,    // data - 1 zeros, then value
    kIncreaseAndStore = 6,  // value += data, then value
    kDecreaseAndStore = 7,  // value -= data, then value
};

constexpr std::int64_t kMaxMaskValue = (std::int64_t{1} << 27) - 1;  // IRAF masks are 27 bits deep
constexpr std::int64_t kFirstValue = 1;  // the value a list starts with, as IRAF's encoder assumes

// Header words: the old layout holds the list's length at index 2; the newer one has a negative
// version there, its own length at index 1 and the list's length split over indexes 3 and 4.
constexpr std::size_t kOldHeaderWords = 3;        // words
constexpr std::size_t kNewHeaderMinWords = 5;     // words, through the length words
constexpr std::int64_t kLengthHighScale = 32768;  // words per unit of the high length word

class Words {
public:
    explicit Words(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t size() const { return bytes_.size() / 2; }
    std::uint16_t operator[](std::size_t index) const {
        return static_cast<std::uint16_t>(bytes_[2 * index] << 8 | bytes_[2 * index + 1]);
    }
    std::int16_t signedAt(std::size_t index) const {
        return static_cast<std::int16_t>((*this)[index]);
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// Word indexes of the list's instructions, [first, end), within the input.
struct Instructions {
    std::size_t first;
    std::size_t end;
};

std::optional<Instructions> locateInstructions(const Words& words) {
    if (words.size() < kOldHeaderWords) return std::nullopt;
    std::int64_t first = static_cast<std::int64_t>(kOldHeaderWords);
    std::int64_t end = words.signedAt(2);
    if (end <= 0) {
        if (words.size() < kNewHeaderMinWords) return std::nullopt;
        first = words.signedAt(1);
        const std::int64_t low = words.signedAt(3);
        const std::int64_t high = words.signedAt(4);
        if (first < static_cast<std::int64_t>(kNewHeaderMinWords) || low < 0 || high < 0)
            return std::nullopt;
        end = high * kLengthHighScale + low;
    }
    if (end < first || end > static_cast<std::int64_t>(words.size())) return std::nullopt;
    return Instructions{static_cast<std::size_t>(first), static_cast<std::size_t>(end)};
}

// The output filled so far and the mask value runs repeat.
class Runs {
public:
    explicit Runs(std::span<std::int32_t> output) : output_(output) {}

    bool complete() const { return filled_ == output_.size(); }

    bool adjustValue(std::int64_t change) { return setValue(value_ + change); }

    bool setValue(std::int64_t value) {
        if (value < 0 || value > kMaxMaskValue) return false;
        value_ = value;
        return true;
    }

    // `zeros` zeros, then `copies` copies of the value; false if they would overrun the output.
    bool append(std::size_t zeros, std::size_t copies) {
        const std::size_t room = output_.size() - filled_;
        if (zeros > room || copies > room - zeros) return false;
        const auto start = output_.begin() + static_cast<std::ptrdiff_t>(filled_);
        std::fill_n(start, zeros, 0);
        std::fill_n(start + static_cast<std::ptrdiff_t>(zeros), copies,
                    static_cast<std::int32_t>(value_));
        filled_ += zeros + copies;
        return true;
    }

private:
    std::span<std::int32_t> output_;
    std::size_t filled_ = 0;
    std::int64_t value_ = kFirstValue;
};

}  // namespace

ReadStatus decodePlio(std::span<const std::uint8_t> input, std::span<std::int32_t> output) {
    const Words words(input);
    const std::optional<Instructions> list = locateInstructions(words);
    if (!list) return ReadStatus::Malformed;
    Runs runs(output);
    // One pass per instruction word, so the list, already checked against the input, bounds it.
    for (std::size_t at = list->first; at < list->end; ++at) {
        const std::uint32_t opcode = words[at] >> kDataBits;
        const std::uint32_t data = words[at] & kDataMask;
        bool fine = false;
        switch (opcode) {
            case kZeros:
                fine = runs.append(data, 0);
                break;
            case kSetValue:
                fine = at + 1 < list->end &&
                       runs.setValue(std::int64_t{words.signedAt(at + 1)} * (kDataMask + 1) + data);
                ++at;
                break;
            case kIncreaseValue:
                fine = runs.adjustValue(data);
                break;
            case kDecreaseValue:
                fine = runs.adjustValue(-std::int64_t{data});
                break;
            case kValues:
                fine = runs.append(0, data);
                break;
            case kZerosThenValue:
                fine = data == 0 || runs.append(data - 1, 1);
                break;
            case kIncreaseAndStore:
                fine = runs.adjustValue(data) && runs.append(0, 1);
                break;
            case kDecreaseAndStore:
                fine = runs.adjustValue(-std::int64_t{data}) && runs.append(0, 1);
                break;
            default:  // a word with its top bit set is no instruction
                break;
        }
        if (!fine) return ReadStatus::Malformed;
    }
    return runs.complete() ? ReadStatus::Ok : ReadStatus::Malformed;
}

}  // namespace cv
