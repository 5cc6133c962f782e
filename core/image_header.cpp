#include "core/image_header.h"

#include <array>
#include <cstring>

#include "formats/fits_reader.h"

namespace cv {

namespace {

constexpr std::uint64_t kMinXisfSize = 16;  // signature plus header length and reserved word
constexpr std::size_t kSignatureLength = 8;

bool startsWith(Reader& reader, const char (&signature)[kSignatureLength + 1]) {
    std::array<char, kSignatureLength> bytes{};
    return readExact(reader, 0, bytes.data(), bytes.size()) == ReadStatus::Ok &&
           std::memcmp(bytes.data(), signature, kSignatureLength) == 0;
}

}  // namespace

ReadStatus readImageHeader(Reader& reader, ImageData& data, std::int32_t imageIndex) {
    static_cast<void>(imageIndex);  // selects among XISF images once XISF is read (issue 4)
    data.reset();
    if (reader.size() >= kMinXisfSize && startsWith(reader, "XISF0100")) {
        return ReadStatus::NotRecognized;  // XISF headers are read from issue 4 on
    }
    if (isFits(reader)) return readFits(reader, data);
    if (startsWith(reader, "VMPROJ01")) {
        return ReadStatus::NotRecognized;  // project files are read from issue 4 on
    }
    return ReadStatus::NotRecognized;
}

}  // namespace cv
