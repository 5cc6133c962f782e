#include "samples/fits_writer.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace cvsamples {

namespace {

constexpr std::size_t kValueColumn = 30;  // right edge of fixed-format values

std::string fixedCard(std::string_view name, std::string_view valueField,
                      std::string_view comment) {
    std::string card(name.substr(0, 8));
    card.resize(8, ' ');
    card += "= ";
    card += valueField;
    if (!comment.empty()) {
        card += " / ";
        card += comment;
    }
    card.resize(kFitsCard, ' ');
    return card;
}

std::string rightAligned(std::string_view value) {
    const std::size_t width = kValueColumn - 10;
    std::string field;
    if (value.size() < width) field.assign(width - value.size(), ' ');
    field += value;
    return field;
}

template <typename Unsigned>
void appendBigEndian(std::string& out, Unsigned value) {
    for (int shift = static_cast<int>(sizeof(Unsigned) * 8) - 8; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

template <typename Sample, typename Unsigned>
std::string toBigEndian(const std::vector<Sample>& samples) {
    std::string out;
    out.reserve(samples.size() * sizeof(Sample));
    for (Sample sample : samples) appendBigEndian(out, std::bit_cast<Unsigned>(sample));
    return out;
}

}  // namespace

FitsHeader& FitsHeader::logical(std::string_view name, bool value, std::string_view comment) {
    return this->value(name, rightAligned(value ? "T" : "F"), comment);
}

FitsHeader& FitsHeader::integer(std::string_view name, std::int64_t value,
                                std::string_view comment) {
    return this->value(name, rightAligned(std::to_string(value)), comment);
}

FitsHeader& FitsHeader::unsignedInteger(std::string_view name, std::uint64_t value,
                                        std::string_view comment) {
    return this->value(name, rightAligned(std::to_string(value)), comment);
}

FitsHeader& FitsHeader::real(std::string_view name, double value, std::string_view comment) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10G", value);
    return this->value(name, rightAligned(buffer), comment);
}

FitsHeader& FitsHeader::text(std::string_view name, std::string_view value,
                             std::string_view comment) {
    std::string quoted = "'";
    for (char c : value) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    if (quoted.size() < 9) quoted.resize(9, ' ');  // strings pad to at least 8 characters
    quoted += '\'';
    return this->value(name, quoted, comment);
}

FitsHeader& FitsHeader::value(std::string_view name, std::string_view value,
                              std::string_view comment) {
    cards_ += fixedCard(name, value, comment);
    return *this;
}

FitsHeader& FitsHeader::raw(std::string_view card) {
    std::string padded(card.substr(0, kFitsCard));
    padded.resize(kFitsCard, ' ');
    cards_ += padded;
    return *this;
}

std::string FitsHeader::bytes() const {
    std::string out = cards_;
    std::string end = "END";
    end.resize(kFitsCard, ' ');
    out += end;
    out.resize((out.size() + kFitsBlock - 1) / kFitsBlock * kFitsBlock, ' ');
    return out;
}

std::string padData(std::string data) {
    data.resize((data.size() + kFitsBlock - 1) / kFitsBlock * kFitsBlock, '\0');
    return data;
}

std::string bigEndianBytes(const std::vector<std::uint8_t>& samples) {
    return std::string(samples.begin(), samples.end());
}
std::string bigEndianBytes(const std::vector<std::int16_t>& samples) {
    return toBigEndian<std::int16_t, std::uint16_t>(samples);
}
std::string bigEndianBytes(const std::vector<std::int32_t>& samples) {
    return toBigEndian<std::int32_t, std::uint32_t>(samples);
}
std::string bigEndianBytes(const std::vector<std::int64_t>& samples) {
    return toBigEndian<std::int64_t, std::uint64_t>(samples);
}
std::string bigEndianBytes(const std::vector<float>& samples) {
    return toBigEndian<float, std::uint32_t>(samples);
}
std::string bigEndianBytes(const std::vector<double>& samples) {
    return toBigEndian<double, std::uint64_t>(samples);
}

FitsHeader primaryImageHeader(int bitpix, const std::vector<std::uint64_t>& axes) {
    FitsHeader header;
    header.logical("SIMPLE", true, "conforms to FITS standard")
        .integer("BITPIX", bitpix, "array data type")
        .integer("NAXIS", static_cast<std::int64_t>(axes.size()), "number of array dimensions");
    for (std::size_t i = 0; i < axes.size(); ++i) {
        header.unsignedInteger("NAXIS" + std::to_string(i + 1), axes[i]);
    }
    return header;
}

}  // namespace cvsamples
