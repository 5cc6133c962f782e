// Any bytes as a Siril sequence: recognition, reading, report and listing.
#include <cstdint>

#include "formats/siril_sequence.h"
#include "preview/sequence_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cv::MemoryReader reader(data, size);
    static_cast<void>(cv::isSirilSequence(reader));
    cv::SequenceInfo info;
    if (cv::parseSequence(reader, info) == cv::ReadStatus::Ok) {
        static_cast<void>(cv::sequenceListing(info));
        static_cast<void>(cv::medianFwhm(info));
    }
    return 0;
}
