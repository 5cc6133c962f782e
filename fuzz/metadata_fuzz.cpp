// Metadata from fuzzed headers: each input line "NAME=VALUE" becomes a FITS
// keyword, "#ID=VALUE" an XISF property.
#include <cstdint>
#include <string_view>

#include "metadata/property_list.h"

namespace {

constexpr std::size_t kMaxRecords = 512;  // as the header readers keep at most

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    cv::ImageData image;
    image.kind = cv::FileKind::Fits;
    image.image.width = 6000;
    image.image.height = 4000;
    image.image.channels = 1;
    image.image.sampleFormat = cv::SampleFormat::UInt16;
    while (!text.empty() && image.keywords.size() + image.properties.size() < kMaxRecords) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string name(line.substr(0, equals));
        const std::string value(line.substr(equals + 1));
        if (!name.empty() && name.front() == '#')
            image.properties.push_back({name.substr(1), "String", value});
        else
            image.keywords.push_back({name, value, ""});
    }
    const cv::ImageMetadata metadata = cv::extractMetadata(image);
    static_cast<void>(cv::imagePropertyList(metadata));
    return 0;
}
