#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "samples/fits_writer.h"

namespace cvtest {

using cvsamples::FitsHeader;

// An extension header: XTENSION, BITPIX, NAXIS and the axes, PCOUNT, GCOUNT.
inline FitsHeader extensionHeader(const char* type, int bitpix,
                                  const std::vector<std::uint64_t>& axes) {
    FitsHeader header;
    header.text("XTENSION", type)
        .integer("BITPIX", bitpix)
        .integer("NAXIS", static_cast<std::int64_t>(axes.size()));
    for (std::size_t i = 0; i < axes.size(); ++i)
        header.unsignedInteger("NAXIS" + std::to_string(i + 1), axes[i]);
    header.integer("PCOUNT", 0).integer("GCOUNT", 1);
    return header;
}

// A header followed by `dataBytes` zero bytes, padded to whole blocks.
inline std::string hdu(const FitsHeader& header, std::uint64_t dataBytes) {
    return header.bytes() + cvsamples::padData(std::string(dataBytes, '\0'));
}

// A primary image of 8-bit samples with zero data.
inline std::string primaryImage(std::uint64_t width, std::uint64_t height) {
    return hdu(cvsamples::primaryImageHeader(8, {width, height}), width * height);
}

}  // namespace cvtest
