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

// The same bytes without lending them, as a file is read: rows go through the
// renderer's own read buffer instead of being used where they lie.
class CopyingReader final : public cv::Reader {
public:
    explicit CopyingReader(cv::Reader& inner) : inner_(inner) {}
    std::uint64_t size() const override { return inner_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        return inner_.read(offset, destination, count);
    }

private:
    cv::Reader& inner_;
};

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
    options.cfaMode = cv::storedCfaMode(static_cast<std::uint32_t>(size % 3));
    options.workingMemory = kWorkingMemory;
    options.maxBlockBytes = kMaxBlockBytes;
    options.secondThread = size % 4 >= 2;
    cv::RenderBudget budget;
    budget.timeLimitMs = kTimeLimitMs;
    budget.byteLimit = kByteLimit;
    budget.startTime = cv::steadyNowNs();
    cv::RgbImage picture;
    CopyingReader copying(reader);
    cv::Reader& source = size % 2 == 0 ? static_cast<cv::Reader&>(reader) : copying;
    static_cast<void>(cv::renderImage(source, image, options, budget, picture));
    return 0;
}
