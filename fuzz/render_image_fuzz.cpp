// Any bytes through the header readers and, when a header is accepted, the
// renderer, with limits far below the fuzzer's memory cap so a lying header
// is stopped by the product's own guards.
#include <cstdint>
#include <new>

#include "formats/image_header.h"
#include "render/render_image.h"

namespace {

constexpr std::uint64_t kWorkingMemory = 1 << 20;  // bytes
constexpr std::uint64_t kMaxBlockBytes = 1 << 22;  // bytes
constexpr std::uint64_t kByteLimit = 1 << 22;      // bytes
constexpr std::uint32_t kTimeLimitMs = 200;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cv::MemoryReader reader(data, size);
    cv::ImageData image;
    try {
        if (cv::readImageHeader(reader, image) != cv::ReadStatus::Ok) return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    cv::RenderOptions options;
    options.maxSize = 64;
    options.cfaMode = static_cast<std::uint32_t>(size % 3);  // automatic, always colour, always mono
    options.workingMemory = kWorkingMemory;
    options.maxBlockBytes = kMaxBlockBytes;
    cv::RenderBudget budget;
    budget.timeLimitMs = kTimeLimitMs;
    budget.byteLimit = kByteLimit;
    budget.startTime = cv::steadyNowNs();
    cv::RgbImage picture;
    static_cast<void>(cv::renderImage(reader, image, options, budget, picture));
    return 0;
}
