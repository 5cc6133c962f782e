// Any bytes through detection and the header readers.
#include <cstdint>
#include <new>

#include "formats/image_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cv::MemoryReader reader(data, size);
    cv::ImageData image;
    try {
        if (cv::readImageHeader(reader, image) == cv::ReadStatus::Ok) {
            static_cast<void>(cv::keywordValue(image, "OBJECT"));
            static_cast<void>(cv::blockByteSize(image.image));
        }
    } catch (const std::bad_alloc&) {
        // Callers turn memory exhaustion into their own failure.
    }
    return 0;
}
