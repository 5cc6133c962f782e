#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "core/image_data.h"
#include "core/reader.h"
#include "render/render_image.h"

namespace cv {

// Reads through `inner` while the budget's time lasts: every call asks the
// clock first and, once the time limit is reached, is refused (failure()
// then says TimedOut), so a slow or stalled source overruns the budget by
// at most the one call, or the one batch read ahead, under way. A batch
// goes whole to a source that serves batches, range by range to the others,
// each range asking the clock. `inner` and the budget must outlive it; a
// twin reads the clock from its own thread, which only reads the budget.
class ClockedReader final : public Reader {
public:
    ClockedReader(Reader& inner, const RenderBudget& budget) : inner_(inner), budget_(budget) {}

    std::uint64_t size() const override { return inner_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    bool readRanges(std::span<const ReadRequest> requests) override;
    bool servesBatches() const override { return inner_.servesBatches(); }
    // Asks the clock once for the whole batch read ahead, as for one call.
    bool readAhead(std::span<const ReadRequest> requests) override {
        return mayRead() && inner_.readAhead(requests);
    }
    bool readsAhead() const override { return inner_.readsAhead(); }
    bool collectAhead() override { return inner_.collectAhead(); }
    void dropAhead() override { inner_.dropAhead(); }
    // Lent bytes cost no read, so the clock does not stop them.
    const std::uint8_t* view(std::uint64_t offset, std::uint64_t count) const override {
        return inner_.view(offset, count);
    }
    std::unique_ptr<Reader> twin() override;
    ReadStatus failure() const override {
        return timedOut_ ? ReadStatus::TimedOut : inner_.failure();
    }

private:
    bool mayRead();

    Reader& inner_;
    std::unique_ptr<Reader> ownInner_;  // the inner source's twin, when this one is a twin
    const RenderBudget& budget_;
    bool timedOut_ = false;
};

// readImageHeader with its reads counted against `budget`, whose render
// then has what is left; TimedOut or ReadFailed when the time ran out first.
[[nodiscard]] ReadStatus readHeaderWithinBudget(Reader& reader, const RenderBudget& budget,
                                                ImageData& data);

}  // namespace cv
