// Any bytes as an XML document: every event, attribute lookup and entity decoding.
#include <array>
#include <cstdint>

#include "formats/xml_parser.h"

namespace {

constexpr int kMaxEvents = 100000;  // the parser is linear; this only bounds a run

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* begin = reinterpret_cast<const char*>(data);
    cv::XmlParser parser;
    parser.init(begin, begin + size);
    std::array<char, 64> small{};
    std::array<char, 4096> large{};
    for (int i = 0; i < kMaxEvents; ++i) {
        const cv::XmlEvent event = parser.next();
        if (event == cv::XmlEvent::EndOfDocument || event == cv::XmlEvent::Error) break;
        if (event == cv::XmlEvent::Text) {
            static_cast<void>(cv::decodeEntities(parser.text(), small.data(), small.size()));
        }
        for (int a = 0; a < parser.attributeCount(); ++a) {
            std::size_t length = 0;
            static_cast<void>(parser.attributeDecoded(parser.attributeName(a), large.data(),
                                                      large.size(), &length));
            static_cast<void>(
                cv::decodeEntities(parser.attributeValue(a), small.data(), small.size()));
        }
    }
    return 0;
}
