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
        aheadRows_.reserve(slots);
    }
    ~ReadRows() override {
        // The reads started ahead still write into the slots.
        if (ahead_) samples_.dropAhead();
    }
    ReadRows(const ReadRows&) = delete;
    ReadRows& operator=(const ReadRows&) = delete;

    ReadStatus fetch(const std::vector<std::uint64_t>& rows, std::uint32_t plane,
                     std::uint32_t planes) override {
        ready_ = 0;
        if (ahead_) {
            ahead_ = false;
            if (rows != aheadRows_ || plane != aheadPlane_ || planes != aheadPlanes_) {
                samples_.dropAhead();
            } else if (!samples_.collectAhead()) {
                return samples_.failure();
            } else {
                ready_ = requests_.size();
                return ReadStatus::Ok;
            }
        }
        if (!ask(rows, plane, planes)) return ReadStatus::TooLarge;
        if (samples_.servesBatches()) {
            if (!samples_.readRanges(requests_)) return samples_.failure();
            ready_ = requests_.size();
            return ReadStatus::Ok;
        }
        ready_ = readInRuns(requests_, [this](std::uint64_t offset, void* to, std::uint64_t count) {
            return samples_.read(offset, to, count);
        });
        return ready_ == requests_.size() ? ReadStatus::Ok : samples_.failure();
    }
    bool fetchAhead(const std::vector<std::uint64_t>& rows, std::uint32_t plane,
                    std::uint32_t planes) override {
        if (ahead_ || !ask(rows, plane, planes)) return false;
        ready_ = 0;
        aheadRows_.assign(rows.begin(), rows.end());  // within the capacity reserved
        aheadPlane_ = plane;
        aheadPlanes_ = planes;
        ahead_ = samples_.readAhead(requests_);
        return ahead_;
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
    std::unique_ptr<RowSource> sibling(std::size_t slots) const override {
        if (!samples_.readsAhead()) return nullptr;
        return widened(slots);
    }
    std::unique_ptr<RowSource> widened(std::size_t slots) const override {
        if (owned_) return nullptr;  // the twin is this source's alone
        return std::make_unique<ReadRows>(samples_, nullptr, layout_, slots);
    }

private:
    // The requests of `rows` of the planes from `plane`, one slot each; false
    // when they would not fit the slots.
    bool ask(const std::vector<std::uint64_t>& rows, std::uint32_t plane, std::uint32_t planes) {
        if (rows.size() > slots_ || planes > slots_ || rows.size() * planes > slots_) return false;
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
        return true;
    }

    Reader& samples_;
    std::unique_ptr<Reader> owned_;  // a twin this source reads through, or null
    RowLayout layout_;
    std::size_t slots_;
    LargeBytes raw_;
    std::vector<ReadRequest> requests_;
    std::size_t ready_ = 0;
    // The fetch started ahead, which the reader still serves.
    bool ahead_ = false;
    std::vector<std::uint64_t> aheadRows_;
    std::uint32_t aheadPlane_ = 0;
    std::uint32_t aheadPlanes_ = 0;
};

}  // namespace

void RowSource::prefetch(std::uint32_t, std::uint64_t) const {}

bool RowSource::fetchAhead(const std::vector<std::uint64_t>&, std::uint32_t, std::uint32_t) {
    return false;
}

std::unique_ptr<RowSource> RowSource::sibling(std::size_t) const {
    return nullptr;
}

std::unique_ptr<RowSource> RowSource::widened(std::size_t) const {
    return nullptr;
}

std::unique_ptr<RowSource> makeRowSource(Reader& samples, const RowLayout& layout,
                                         std::size_t slots) {
    const std::uint64_t total = layout.planeBytes * layout.planes;
    if (const std::uint8_t* lent = samples.view(layout.start, total))
        return std::make_unique<LentRows>(lent, layout);
    return std::make_unique<ReadRows>(samples, nullptr, layout, slots);
}

}  // namespace cv
