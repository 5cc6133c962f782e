#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cvsamples {

constexpr std::size_t kFitsBlock = 2880;  // bytes
constexpr std::size_t kFitsCard = 80;     // bytes

// Builds a FITS header card by card, in the fixed format most writers use:
// values right-aligned to column 30, strings quoted from column 11.
class FitsHeader {
public:
    FitsHeader& logical(std::string_view name, bool value, std::string_view comment = {});
    FitsHeader& integer(std::string_view name, std::int64_t value, std::string_view comment = {});
    FitsHeader& unsignedInteger(std::string_view name, std::uint64_t value,
                                std::string_view comment = {});
    FitsHeader& real(std::string_view name, double value, std::string_view comment = {});
    FitsHeader& text(std::string_view name, std::string_view value, std::string_view comment = {});
    // A value card whose value field is written exactly as given.
    FitsHeader& value(std::string_view name, std::string_view value, std::string_view comment = {});
    // Any 80-column card (COMMENT, HISTORY, or a deliberately odd one).
    FitsHeader& raw(std::string_view card);

    // The cards, END, and space padding to a whole block.
    std::string bytes() const;
    // The cards alone, without END or padding.
    const std::string& cards() const { return cards_; }

private:
    std::string cards_;
};

// Pads with zero bytes to a whole number of FITS blocks.
std::string padData(std::string data);

// Samples as big-endian bytes, in the order given.
std::string bigEndianBytes(const std::vector<std::uint8_t>& samples);
std::string bigEndianBytes(const std::vector<std::int16_t>& samples);
std::string bigEndianBytes(const std::vector<std::int32_t>& samples);
std::string bigEndianBytes(const std::vector<std::int64_t>& samples);
std::string bigEndianBytes(const std::vector<float>& samples);
std::string bigEndianBytes(const std::vector<double>& samples);

// The primary header of a simple image: SIMPLE, BITPIX, NAXIS and the axes.
FitsHeader primaryImageHeader(int bitpix, const std::vector<std::uint64_t>& axes);

}  // namespace cvsamples
