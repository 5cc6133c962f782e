#include "formats/hcompress_codec.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <new>
#include <vector>

#include "core/large_allocator.h"

namespace cv {
namespace {

using Coefficients = std::vector<std::int64_t, LargeAllocator<std::int64_t>>;
using ByteSpan = std::span<const std::uint8_t>;

// Fixed fields: magic (2 bytes); rows, columns and scale (4 each, big-endian); the sum of all
// pixels (8); the bit-plane counts of the three kinds of quadrant (1 each).
constexpr std::array<std::uint8_t, 2> kMagic = {0xDD, 0x99};
constexpr std::size_t kHeaderBytes = 25;

// Int32 pixels in tiles of sides up to kMaxImageSide (< 2^17) give H-transform coefficients
// below 2^50; with this bound no sum in the inverse transform or its smoothing passes 2^60.
constexpr std::int64_t kMaxCoefficient = std::int64_t{1} << 52;
constexpr unsigned kMaxBitPlanes = 52;  // per quadrant: magnitudes below 2^planes

struct StreamHeader {
    std::uint32_t rows = 0;  // the slow axis: the tile's second FITS axis
    std::uint32_t columns = 0;
    std::int32_t scale = 0;  // 0 and 1 both mean lossless
    std::int64_t sum = 0;    // the transform's top coefficient, kept out of the bit planes
    std::array<std::uint8_t, 3> planes{};  // low-low quadrant, the two mixed ones, high-high
};

std::uint64_t bigEndian(ByteSpan bytes) {
    std::uint64_t value = 0;
    for (std::uint8_t byte : bytes) value = (value << 8) | byte;
    return value;
}

bool parseHeader(ByteSpan input, StreamHeader& header) {
    if (input.size() < kHeaderBytes || input[0] != kMagic[0] || input[1] != kMagic[1]) return false;
    header.rows = static_cast<std::uint32_t>(bigEndian(input.subspan(2, 4)));
    header.columns = static_cast<std::uint32_t>(bigEndian(input.subspan(6, 4)));
    header.scale =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(bigEndian(input.subspan(10, 4))));
    header.sum = static_cast<std::int64_t>(bigEndian(input.subspan(14, 8)));
    std::copy_n(input.begin() + 22, header.planes.size(), header.planes.begin());
    return true;
}

std::int64_t effectiveScale(const StreamHeader& header) {
    return std::max(header.scale, 1);
}

// Rejects magnitudes no int32 tile can produce, which also keeps the arithmetic in range.
bool magnitudesAreBounded(const StreamHeader& header) {
    const std::int64_t largestDigit = kMaxCoefficient / effectiveScale(header);
    for (std::uint8_t planes : header.planes) {
        if (planes > kMaxBitPlanes || (std::int64_t{1} << planes) - 1 > largestDigit) return false;
    }
    return header.sum >= -largestDigit && header.sum <= largestDigit;
}

// The coded bits after the fixed fields, most significant first. A read past the end fails.
class BitReader {
public:
    BitReader(ByteSpan bytes, std::size_t firstByte)
        : bytes_(bytes),
          position_(std::uint64_t{firstByte} * 8),
          end_(std::uint64_t{bytes.size()} * 8) {}

    // The next `count` (at most 8) bits, with zeros for any past the end.
    std::uint32_t peek(unsigned count) const {
        const std::uint64_t byte = position_ / 8;
        const std::uint32_t window = (byteAt(byte) << 8) | byteAt(byte + 1);
        const unsigned used = static_cast<unsigned>(position_ % 8);
        return (window >> (16 - used - count)) & ((1u << count) - 1);
    }
    bool skip(unsigned count) {
        if (end_ - position_ < count) return false;
        position_ += count;
        return true;
    }
    bool take(unsigned count, std::uint32_t& value) {
        value = peek(count);
        return skip(count);
    }
    // The sign bits begin on a byte of their own.
    void alignToByte() { position_ = (position_ + 7) / 8 * 8; }

private:
    std::uint32_t byteAt(std::uint64_t index) const {
        return index < bytes_.size() ? bytes_[static_cast<std::size_t>(index)] : 0u;
    }

    ByteSpan bytes_;
    std::uint64_t position_;  // in bits, never past end_
    std::uint64_t end_;
};

// The fixed prefix code of the 4-bit quadtree cells, indexed by value: the code and its length
// in bits. It is complete, so any 6 bits begin with exactly one code.
constexpr std::array<std::uint8_t, 16> kCellCodes = {
    0x3e, 0x00, 0x01, 0x08, 0x02, 0x09, 0x1a, 0x1b, 0x03, 0x1c, 0x0a, 0x1d, 0x0b, 0x1e, 0x3f, 0x0c};
constexpr std::array<std::uint8_t, 16> kCellCodeLengths = {6, 3, 3, 4, 3, 4, 5, 5,
                                                           3, 5, 4, 5, 4, 5, 6, 4};
constexpr unsigned kLongestCode = 6;

struct DecodedCell {
    std::uint8_t value;
    std::uint8_t length;
};

constexpr std::array<DecodedCell, 1u << kLongestCode> buildCellTable() {
    std::array<DecodedCell, 1u << kLongestCode> table{};
    for (unsigned value = 0; value < kCellCodes.size(); ++value) {
        const unsigned spare = kLongestCode - kCellCodeLengths[value];
        for (unsigned tail = 0; tail < (1u << spare); ++tail) {
            table[(unsigned{kCellCodes[value]} << spare) | tail] = {
                static_cast<std::uint8_t>(value), kCellCodeLengths[value]};
        }
    }
    return table;
}
constexpr auto kCellTable = buildCellTable();

bool readCell(BitReader& bits, std::uint8_t& value) {
    const DecodedCell cell = kCellTable[bits.peek(kLongestCode)];
    value = cell.value;
    return bits.skip(cell.length);
}

// A cell holds one bit for each member of a 2 x 2 group, the top-left one highest.
constexpr std::uint8_t memberBit(std::uint32_t row, std::uint32_t column) {
    return static_cast<std::uint8_t>(0x8u >> (2 * (row % 2) + column % 2));
}

constexpr std::uint32_t shrink(std::uint32_t size, unsigned halvings) {
    return static_cast<std::uint32_t>((std::uint64_t{size} + (std::uint64_t{1} << halvings) - 1) >>
                                      halvings);
}

// Smallest n with 2^n >= size.
unsigned ceilLog2(std::uint32_t size) {
    unsigned n = 0;
    while ((std::uint64_t{1} << n) < size) ++n;
    return n;
}

struct Quadrant {
    std::uint32_t firstRow;
    std::uint32_t firstColumn;
    std::uint32_t rows;
    std::uint32_t columns;
    unsigned planes;
};

struct CellGrid {
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
    std::vector<std::uint8_t> cells;

    void reshape(std::uint32_t newRows, std::uint32_t newColumns) {
        rows = newRows;
        columns = newColumns;
        cells.resize(std::size_t{rows} * columns);
    }
    std::uint8_t at(std::uint32_t row, std::uint32_t column) const {
        return cells[std::size_t{row} * columns + column];
    }
};

// Fills the magnitudes of one quadrant, plane by plane from the highest. Each plane is a bitmap
// of its cells or a quadtree whose levels are sent coarse to fine, each level's cells last first.
class QuadrantReader {
public:
    QuadrantReader(BitReader& bits, Coefficients& values, std::uint32_t stride, HcompressWork& work)
        : bits_(bits), values_(values), stride_(stride), work_(work) {}

    bool read(const Quadrant& quadrant) {
        quadrant_ = quadrant;
        cellRows_ = shrink(quadrant.rows, 1);
        cellColumns_ = shrink(quadrant.columns, 1);
        for (unsigned plane = quadrant.planes; plane-- > 0;) {
            if (!readPlane(plane)) return false;
        }
        return true;
    }

private:
    static constexpr std::uint32_t kBitmapPlane = 0x0;
    static constexpr std::uint32_t kQuadtreePlane = 0xF;

    bool readPlane(unsigned plane) {
        std::uint32_t kind = 0;
        if (!bits_.take(4, kind)) return false;
        if (kind == kBitmapPlane) {
            if (!readBitmap()) return false;
        } else if (kind == kQuadtreePlane) {
            bool marked = false;
            if (!readQuadtree(marked)) return false;
            if (!marked) return true;
        } else {
            return false;
        }
        insert(plane);
        return true;
    }

    bool readBitmap() {
        grid_.reshape(cellRows_, cellColumns_);
        work_.cells += grid_.cells.size();
        for (std::uint8_t& cell : grid_.cells) {
            std::uint32_t value = 0;
            if (!bits_.take(4, value)) return false;
            cell = static_cast<std::uint8_t>(value);
        }
        return true;
    }

    bool readQuadtree(bool& marked) {
        std::uint8_t top = 0;
        if (!readCell(bits_, top)) return false;
        marked = top != 0;
        if (!marked) return true;
        if (cellRows_ == 0 || cellColumns_ == 0) return false;  // no pixels to mark
        grid_.reshape(1, 1);
        grid_.cells[0] = top;
        const unsigned levels = std::max(1u, ceilLog2(std::max(quadrant_.rows, quadrant_.columns)));
        for (unsigned halvings = levels - 1; halvings >= 1; --halvings) {
            if (!expand(halvings)) return false;
        }
        return true;
    }

    bool expand(unsigned halvings) {
        std::swap(parent_, grid_);
        grid_.reshape(shrink(cellRows_, halvings - 1), shrink(cellColumns_, halvings - 1));
        work_.cells += grid_.cells.size();
        for (std::uint32_t row = 0; row < grid_.rows; ++row) {
            for (std::uint32_t column = 0; column < grid_.columns; ++column) {
                const bool marked = parent_.at(row / 2, column / 2) & memberBit(row, column);
                grid_.cells[std::size_t{row} * grid_.columns + column] = marked ? 1 : 0;
            }
        }
        for (std::size_t index = grid_.cells.size(); index-- > 0;) {
            if (grid_.cells[index] == 0) continue;
            // A marked cell has at least one marked member: the encoder never writes 0 here.
            if (!readCell(bits_, grid_.cells[index]) || grid_.cells[index] == 0) return false;
        }
        return true;
    }

    // Sets bit `plane` of every member the final grid marks; an odd edge drops its phantom members.
    void insert(unsigned plane) {
        const std::int64_t bit = std::int64_t{1} << plane;
        work_.cells += grid_.cells.size();
        for (std::uint32_t cellRow = 0; cellRow < grid_.rows; ++cellRow) {
            for (std::uint32_t cellColumn = 0; cellColumn < grid_.columns; ++cellColumn) {
                const std::uint8_t cell = grid_.at(cellRow, cellColumn);
                for (std::uint32_t member = 0; cell != 0 && member < 4; ++member) {
                    const std::uint32_t row = 2 * cellRow + member / 2;
                    const std::uint32_t column = 2 * cellColumn + member % 2;
                    if (row >= quadrant_.rows || column >= quadrant_.columns) continue;
                    if ((cell & memberBit(row, column)) == 0) continue;
                    values_[std::size_t{quadrant_.firstRow + row} * stride_ +
                            quadrant_.firstColumn + column] |= bit;
                }
            }
        }
    }

    BitReader& bits_;
    Coefficients& values_;
    std::uint32_t stride_;
    HcompressWork& work_;
    Quadrant quadrant_{};
    std::uint32_t cellRows_ = 0;
    std::uint32_t cellColumns_ = 0;
    CellGrid grid_;
    CellGrid parent_;
};

bool readMagnitudes(BitReader& bits, const StreamHeader& header, Coefficients& values,
                    HcompressWork& work) {
    const std::uint32_t lowRows = shrink(header.rows, 1);
    const std::uint32_t lowColumns = shrink(header.columns, 1);
    const std::uint32_t highRows = header.rows / 2;
    const std::uint32_t highColumns = header.columns / 2;
    const std::array<Quadrant, 4> quadrants = {{
        {0, 0, lowRows, lowColumns, header.planes[0]},
        {0, lowColumns, lowRows, highColumns, header.planes[1]},
        {lowRows, 0, highRows, lowColumns, header.planes[1]},
        {lowRows, lowColumns, highRows, highColumns, header.planes[2]},
    }};
    QuadrantReader reader(bits, values, header.columns, work);
    for (const Quadrant& quadrant : quadrants) {
        if (!reader.read(quadrant)) return false;
    }
    std::uint32_t terminator = 0;
    return bits.take(4, terminator) && terminator == 0;
}

bool readSigns(BitReader& bits, Coefficients& values) {
    bits.alignToByte();
    for (std::int64_t& value : values) {
        if (value == 0) continue;
        std::uint32_t negative = 0;
        if (!bits.take(1, negative)) return false;
        if (negative != 0) value = -value;
    }
    return true;
}

// Nearest multiple of `unit` (a power of two), halves away from zero.
std::int64_t roundToMultiple(std::int64_t value, std::int64_t unit) {
    if (unit == 1) return value;
    const std::int64_t half = unit / 2;
    return (value + (value >= 0 ? half : half - 1)) & -unit;
}

// Moves `amount` (a power of two or 0) toward zero from `value`'s side.
std::int64_t towardZero(std::int64_t value, std::int64_t amount) {
    return value >= 0 ? value - amount : value + amount;
}

// Undoes the H-transform level by level, coarse to fine. At each level the block in use doubles;
// its coefficients are interleaved back into 2 x 2 groups of a mean and three differences, whose
// low bits the encoder dropped and whose parity is restored from one another.
class InverseTransform {
public:
    InverseTransform(Coefficients& values, std::uint32_t rows, std::uint32_t columns,
                     std::int64_t smoothLimit)
        : values_(values),
          rows_(rows),
          columns_(columns),
          smoothLimit_(smoothLimit),
          line_(std::max(rows, columns)) {}

    void run() {
        const unsigned levels = ceilLog2(std::max(rows_, columns_));
        if (levels == 0) return;  // a single pixel is its own sum
        values_[0] = roundToMultiple(values_[0], std::int64_t{2} << levels);
        for (unsigned level = levels; level-- > 0;) {
            const std::uint32_t blockRows = shrink(rows_, level);
            const std::uint32_t blockColumns = shrink(columns_, level);
            for (std::uint32_t row = 0; row < blockRows; ++row) {
                interleave(std::size_t{row} * columns_, blockColumns, 1);
            }
            for (std::uint32_t column = 0; column < blockColumns; ++column) {
                interleave(column, blockRows, columns_);
            }
            if (smoothLimit_ > 0) smooth(blockRows, blockColumns);
            restore(blockRows, blockColumns, level);
        }
    }

private:
    std::int64_t& at(std::uint32_t row, std::uint32_t column) {
        return values_[std::size_t{row} * columns_ + column];
    }

    // The first half of a line (rounded up) goes to its even places, the rest to its odd ones.
    void interleave(std::size_t first, std::uint32_t count, std::size_t stride) {
        for (std::uint32_t i = 0; i < count; ++i) line_[i] = values_[first + i * stride];
        const std::uint32_t half = (count + 1) / 2;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t from = i % 2 == 0 ? i / 2 : half + i / 2;
            values_[first + i * stride] = line_[from];
        }
    }

    void restore(std::uint32_t blockRows, std::uint32_t blockColumns, unsigned level) {
        const std::int64_t unit = std::int64_t{1} << level;
        const unsigned shift = level == 0 ? 2 : 1;  // the finest level holds sums of four
        std::uint32_t row = 0;
        for (; row + 1 < blockRows; row += 2) {
            std::uint32_t column = 0;
            for (; column + 1 < blockColumns; column += 2) restoreGroup(row, column, unit, shift);
            if (column < blockColumns) {
                restorePair(at(row, column), at(row + 1, column), unit, shift);
            }
        }
        if (row < blockRows) {
            std::uint32_t column = 0;
            for (; column + 1 < blockColumns; column += 2) {
                restorePair(at(row, column), at(row, column + 1), unit, shift);
            }
            if (column < blockColumns) at(row, column) >>= shift;
        }
    }

    void restoreGroup(std::uint32_t row, std::uint32_t column, std::int64_t unit, unsigned shift) {
        std::int64_t mean = at(row, column);
        std::int64_t alongRows = roundToMultiple(at(row + 1, column), 2 * unit);
        std::int64_t alongColumns = roundToMultiple(at(row, column + 1), 2 * unit);
        const std::int64_t cross = roundToMultiple(at(row + 1, column + 1), unit);
        const std::int64_t crossLow = cross & unit;
        alongRows = towardZero(alongRows, crossLow);
        alongColumns = towardZero(alongColumns, crossLow);
        const std::int64_t parity = (cross ^ alongRows ^ alongColumns) & (2 * unit);
        if (mean >= 0) {
            mean += crossLow - parity;
        } else {
            mean += crossLow == 0 ? parity : crossLow - parity;
        }
        at(row + 1, column + 1) = (mean + alongRows + alongColumns + cross) >> shift;
        at(row + 1, column) = (mean + alongRows - alongColumns - cross) >> shift;
        at(row, column + 1) = (mean - alongRows + alongColumns - cross) >> shift;
        at(row, column) = (mean - alongRows - alongColumns + cross) >> shift;
    }

    // A group cut to two members by an odd edge: a mean and one difference.
    static void restorePair(std::int64_t& first, std::int64_t& second, std::int64_t unit,
                            unsigned shift) {
        const std::int64_t difference = roundToMultiple(second, 2 * unit);
        const std::int64_t mean = towardZero(first, difference & (2 * unit));
        second = (mean + difference) >> shift;
        first = (mean - difference) >> shift;
    }

    // Nudges each difference toward what the neighbouring means suggest, never past monotonic
    // and never by more than half the scale, the rounding error the encoder allowed itself.
    void smooth(std::uint32_t blockRows, std::uint32_t blockColumns) {
        for (std::uint32_t row = 2; row + 2 < blockRows; row += 2) {
            for (std::uint32_t column = 0; column < blockColumns; column += 2) {
                smoothSlope(at(row - 2, column), at(row, column), at(row + 2, column),
                            at(row + 1, column));
            }
        }
        for (std::uint32_t row = 0; row < blockRows; row += 2) {
            for (std::uint32_t column = 2; column + 2 < blockColumns; column += 2) {
                smoothSlope(at(row, column - 2), at(row, column), at(row, column + 2),
                            at(row, column + 1));
            }
        }
        for (std::uint32_t row = 2; row + 2 < blockRows; row += 2) {
            for (std::uint32_t column = 2; column + 2 < blockColumns; column += 2) {
                smoothCross(row, column);
            }
        }
    }

    void smoothSlope(std::int64_t before, std::int64_t mean, std::int64_t after,
                     std::int64_t& difference) const {
        const std::int64_t rise = after - mean;
        const std::int64_t fall = mean - before;
        const std::int64_t highest = std::max(std::min(rise, fall), std::int64_t{0}) * 4;
        const std::int64_t lowest = std::min(std::max(rise, fall), std::int64_t{0}) * 4;
        if (lowest >= highest) return;  // a peak or a flat: no slope to match
        const std::int64_t target = std::clamp(after - before, lowest, highest);
        difference += std::clamp((target - difference * 8) / 8, -smoothLimit_, smoothLimit_);
    }

    void smoothCross(std::uint32_t row, std::uint32_t column) {
        const std::int64_t mean = at(row, column);
        const std::int64_t lowLow = at(row - 2, column - 2);
        const std::int64_t highLow = at(row + 2, column - 2);
        const std::int64_t lowHigh = at(row - 2, column + 2);
        const std::int64_t highHigh = at(row + 2, column + 2);
        const std::int64_t rows2 = at(row + 1, column) * 2;
        const std::int64_t columns2 = at(row, column + 1) * 2;
        const std::int64_t zero = 0;
        const std::int64_t highest =
            16 * std::min({std::max(highHigh - mean, zero) - rows2 - columns2,
                           std::max(mean - highLow, zero) + rows2 - columns2,
                           std::max(mean - lowHigh, zero) - rows2 + columns2,
                           std::max(lowLow - mean, zero) + rows2 + columns2});
        const std::int64_t lowest =
            16 * std::max({std::min(highHigh - mean, zero) - rows2 - columns2,
                           std::min(mean - highLow, zero) + rows2 - columns2,
                           std::min(mean - lowHigh, zero) - rows2 + columns2,
                           std::min(lowLow - mean, zero) + rows2 + columns2});
        if (lowest >= highest) return;
        std::int64_t& cross = at(row + 1, column + 1);
        const std::int64_t target =
            std::clamp(highHigh + lowLow - lowHigh - highLow, lowest, highest);
        cross += std::clamp((target - cross * 64) / 64, -smoothLimit_, smoothLimit_);
    }

    Coefficients& values_;
    std::uint32_t rows_;
    std::uint32_t columns_;
    std::int64_t smoothLimit_;  // 0: no smoothing
    std::vector<std::int64_t> line_;
};

bool storePixels(const Coefficients& values, std::span<std::int32_t> output) {
    constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kHighest = std::numeric_limits<std::int32_t>::max();
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] < kLowest || values[i] > kHighest) return false;
        output[i] = static_cast<std::int32_t>(values[i]);
    }
    return true;
}

ReadStatus decodeTile(ByteSpan input, const StreamHeader& header, bool smooth,
                      std::span<std::int32_t> output, HcompressWork& work) {
    Coefficients values(output.size());
    BitReader bits(input, kHeaderBytes);
    if (!readMagnitudes(bits, header, values, work) || !readSigns(bits, values)) {
        return ReadStatus::Malformed;
    }
    values[0] = header.sum;
    const std::int64_t scale = effectiveScale(header);
    if (scale > 1) {
        for (std::int64_t& value : values) value *= scale;
    }
    InverseTransform(values, header.rows, header.columns, smooth ? scale / 2 : 0).run();
    return storePixels(values, output) ? ReadStatus::Ok : ReadStatus::Malformed;
}

}  // namespace

ReadStatus decodeHcompress(ByteSpan input, std::uint32_t width, std::uint32_t height, bool smooth,
                           std::span<std::int32_t> output, HcompressWork& work) {
    // Two 32-bit factors cannot overflow 64 bits; every index below is smaller than `pixels`.
    const std::uint64_t pixels = std::uint64_t{width} * height;
    constexpr std::uint64_t kMaxHcompressPixels = 1u << 25;  // per tile: 256 MiB of 64-bit work
    if (pixels == 0) return ReadStatus::Malformed;
    if (pixels > kMaxHcompressPixels) return ReadStatus::TooLarge;
    if (output.size() != pixels) return ReadStatus::Malformed;
    StreamHeader header;
    if (!parseHeader(input, header) || header.rows != height || header.columns != width ||
        !magnitudesAreBounded(header)) {
        return ReadStatus::Malformed;
    }
    try {
        return decodeTile(input, header, smooth, output, work);
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
}

ReadStatus decodeHcompress(ByteSpan input, std::uint32_t width, std::uint32_t height, bool smooth,
                           std::span<std::int32_t> output) {
    HcompressWork work;
    return decodeHcompress(input, width, height, smooth, output, work);
}

}  // namespace cv
