#include "render/clocked_reader.h"

#include "formats/image_header.h"
#include "render/budget_clock.h"

namespace cv {

bool ClockedReader::mayRead() {
    timedOut_ = elapsedMs(budget_) >= budget_.timeLimitMs;
    return !timedOut_;
}

bool ClockedReader::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    return mayRead() && inner_.read(offset, destination, count);
}

bool ClockedReader::readRanges(std::span<const ReadRequest> requests) {
    if (inner_.servesBatches()) return mayRead() && inner_.readRanges(requests);
    return Reader::readRanges(requests);
}

std::unique_ptr<Reader> ClockedReader::twin() {
    std::unique_ptr<Reader> innerTwin = inner_.twin();
    if (!innerTwin) return nullptr;
    auto reader = std::make_unique<ClockedReader>(*innerTwin, budget_);
    reader->ownInner_ = std::move(innerTwin);
    return reader;
}

ReadStatus readHeaderWithinBudget(Reader& reader, const RenderBudget& budget, ImageData& data) {
    ClockedReader clocked(reader, budget);
    return readImageHeader(clocked, data);
}

}  // namespace cv
