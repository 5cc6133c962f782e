#include "render/row_source.h"

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

#include "core/large_allocator.h"

namespace cv {

namespace {

// Rows the source holds in memory, every plane of them.
class LentRows final : public RowSource {
public:
    LentRows(const std::uint8_t* samples, const RowLayout& layout)
        : samples_(samples), layout_(layout) {}

    ReadStatus fetch(const std::vector<std::uint64_t>& rows, std::uint32_t,
                     std::uint32_t planes) override {
        ready_ = rows.size() * planes;
        return ReadStatus::Ok;
    }
    std::size_t ready() const override { return ready_; }
    const std::uint8_t* row(std::uint32_t plane, std::uint64_t row, std::size_t) const override {
        return samples_ + plane * layout_.planeBytes + row * layout_.rowBytes;
    }
    bool resident() const override { return true; }
    // So a row's memory latency overlaps the work on the row before it.
    void prefetch(std::uint32_t plane, std::uint64_t row) const override {
#if defined(__SSE__) || defined(_M_X64)
        constexpr std::uint64_t kCacheLine = 64;
        const std::uint8_t* bytes = this->row(plane, row, 0);
        for (std::uint64_t at = 0; at < layout_.rowBytes; at += kCacheLine) {
            _mm_prefetch(reinterpret_cast<const char*>(bytes + at), _MM_HINT_T1);
        }
#else
        static_cast<void>(plane);
        static_cast<void>(row);
#endif
    }
    std::unique_ptr<RowSource> twin(std::size_t) const override {
        return std::make_unique<LentRows>(*this);
    }

private:
    const std::uint8_t* samples_;
    RowLayout layout_;
    std::size_t ready_ = 0;
};

// Rows read from a source in one call per fetch, each into its slot.
class ReadRows final : public RowSource {
public:
    ReadRows(Reader& samples, std::unique_ptr<Reader> owned, const RowLayout& layout,
             std::size_t slots)
        : samples_(samples), owned_(std::move(owned)), layout_(layout), slots_(slots) {
        const auto bytes = static_cast<std::size_t>(layout.rowBytes) * slots;
        reserveResident(raw_, bytes);
        raw_.resize(bytes);
        requests_.reserve(slots);
    }

    ReadStatus fetch(const std::vector<std::uint64_t>& rows, std::uint32_t plane,
                     std::uint32_t planes) override {
        if (rows.size() > slots_ || planes > slots_ || rows.size() * planes > slots_)
            return ReadStatus::TooLarge;
        requests_.clear();
        std::uint8_t* slot = raw_.data();
        for (std::uint32_t p = plane; p < plane + planes; ++p) {
            for (const std::uint64_t row : rows) {
                requests_.push_back(
                    {layout_.start + p * layout_.planeBytes + row * layout_.rowBytes, slot,
                     layout_.rowBytes});
                slot += layout_.rowBytes;
            }
        }
        ready_ = 0;
        if (samples_.servesBatches()) {
            if (!samples_.readRanges(requests_)) return samples_.failure();
            ready_ = requests_.size();
            return ReadStatus::Ok;
        }
        return readRuns();
    }
    std::size_t ready() const override { return ready_; }
    const std::uint8_t* row(std::uint32_t, std::uint64_t, std::size_t slot) const override {
        return raw_.data() + slot * layout_.rowBytes;
    }
    bool resident() const override { return false; }
    std::unique_ptr<RowSource> twin(std::size_t slots) const override {
        std::unique_ptr<Reader> twin = samples_.twin();
        if (!twin) return nullptr;
        Reader& reader = *twin;
        return std::make_unique<ReadRows>(reader, std::move(twin), layout_, slots);
    }

private:
    // Rows that follow one another in the file and in their slots, in one
    // read each: a run of rows per visit costs one call to a slow stream.
    ReadStatus readRuns() {
        while (ready_ < requests_.size()) {
            const ReadRequest& first = requests_[ready_];
            std::size_t end = ready_ + 1;
            std::uint64_t bytes = first.count;
            while (end < requests_.size() && requests_[end].offset == first.offset + bytes &&
                   requests_[end].destination ==
                       static_cast<std::uint8_t*>(first.destination) + bytes) {
                bytes += requests_[end].count;
                ++end;
            }
            if (!samples_.read(first.offset, first.destination, bytes)) return samples_.failure();
            ready_ = end;
        }
        return ReadStatus::Ok;
    }

    Reader& samples_;
    std::unique_ptr<Reader> owned_;  // a twin this source reads through, or null
    RowLayout layout_;
    std::size_t slots_;
    LargeBytes raw_;
    std::vector<ReadRequest> requests_;
    std::size_t ready_ = 0;
};

}  // namespace

void RowSource::prefetch(std::uint32_t, std::uint64_t) const {}

std::unique_ptr<RowSource> makeRowSource(Reader& samples, const RowLayout& layout,
                                         std::size_t slots) {
    const std::uint64_t total = layout.planeBytes * layout.planes;
    if (const std::uint8_t* lent = samples.view(layout.start, total))
        return std::make_unique<LentRows>(lent, layout);
    return std::make_unique<ReadRows>(samples, nullptr, layout, slots);
}

}  // namespace cv
