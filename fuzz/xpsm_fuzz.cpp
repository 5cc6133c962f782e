// Any bytes as a process-icon file: recognition, reading, summary and listing.
#include <cstdint>

#include "preview/listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cv::MemoryReader reader(data, size);
    static_cast<void>(cv::isXpsm(reader));
    cv::XpsmDocument document;
    if (cv::readXpsm(reader, document) == cv::ReadStatus::Ok) {
        static_cast<void>(cv::buildXpsmListing(document));
        static_cast<void>(cv::xpsmClassSummary(document, 256));
    }
    return 0;
}
