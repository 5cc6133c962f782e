#include "render/second_lane.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "render/band_reader.h"

namespace cv {

bool prepareSecondLane(const BandReader& bands, RowLane& second, std::uint64_t& bandsPerFetch) {
    SamplingState& s = bands.state();
    bandsPerFetch = 1;
    if (!s.options.secondThread || s.out.height < 2) return false;
    if (bands.visits() * s.reader.rowsPerCell() * s.planes * s.rowBytes < kMinBytesForSecondThread)
        return false;
    // A host's lane thread that is not free reads the next band ahead instead, if it can.
    if (s.options.laneThread != nullptr && !s.options.laneThread->mayStart()) return false;
    std::uint64_t grouped = std::max<std::uint64_t>(bandsPerGroup(s), 1);
    try {
        std::unique_ptr<RowSource> wider =
            grouped > 1 ? s.main.source->widened(static_cast<std::size_t>(grouped * s.bandSlots))
                        : nullptr;
        if (!wider) grouped = 1;
        const auto slots = static_cast<std::size_t>(grouped * s.bandSlots);
        second.source = s.main.source->twin(slots);
        if (!second.source) return false;
        second.isSecondLane = true;
        s.reader.prepare(second);
        second.rows.reserve(slots);
        second.nextVisit = s.main.nextVisit;
        if (wider) {
            s.main.rows.reserve(slots);
            s.main.source = std::move(wider);
        }
        // The first pass's, to read ahead into, which the lanes' turns at the source leave unused.
        s.main.spare.reset();
        bandsPerFetch = grouped;
        return true;
    } catch (
        const std::exception&) {  // no twin or no room for its buffers: one thread adds them all
        second.source.reset();
        return false;
    }
}

namespace {

// The groups of bands, handed out one at a time to whichever lane asks
// first, so a lane whose processor is taken from it leaves more to the
// other; each group's visits begin where the bands above it end.
class BandClaims {
public:
    BandClaims(std::uint64_t perGroup, std::uint64_t height)
        : perGroup_(perGroup), height_(height) {}

    // Where each group's visits begin; false without the memory for them.
    bool plan(const SamplingState& s) noexcept {
        try {
            std::vector<std::uint64_t> visit = s.main.nextVisit;
            passes_ = visit.size();
            starts_.reserve(static_cast<std::size_t>((height_ + perGroup_ - 1) / perGroup_) *
                            passes_);
            for (std::uint64_t r = 0; r < height_; ++r) {
                if (r % perGroup_ == 0) starts_.insert(starts_.end(), visit.begin(), visit.end());
                for (std::uint64_t pass = 1; pass < s.plan.band(r).taken; ++pass) ++visit[pass];
            }
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }

    // The next group left, with `lane` set to visit it; false when none is left.
    bool take(RowLane& lane, std::uint64_t& group) {
        group = next_.fetch_add(1, std::memory_order_relaxed);
        if (group >= (height_ + perGroup_ - 1) / perGroup_) return false;
        visit(lane, group);
        return true;
    }
    // Sets `lane` to visit `group`, taken before by another lane.
    void visit(RowLane& lane, std::uint64_t group) const {
        const auto at = starts_.begin() + static_cast<std::ptrdiff_t>(group * passes_);
        std::copy(at, at + static_cast<std::ptrdiff_t>(passes_), lane.nextVisit.begin());
    }
    std::uint64_t first(std::uint64_t group) const { return group * perGroup_; }
    std::uint64_t end(std::uint64_t group) const {
        return std::min(height_, first(group) + perGroup_);
    }

private:
    std::uint64_t perGroup_;
    std::uint64_t height_;
    std::size_t passes_ = 0;
    std::vector<std::uint64_t> starts_;  // of each group, the next visit of each pass
    std::atomic<std::uint64_t> next_{0};
};

// Adds the groups `lane` takes until none is left. A group whose rows the lane
// could not read is left to `returned` (null: the failure is the lane's):
// nothing of a group is added before its fetch.
ReadStatus addClaimedBands(BandReader& bands, RowLane& lane, BandClaims& claims,
                           std::optional<std::uint64_t>* returned = nullptr) {
    std::uint64_t group = 0;
    while (!lane.exhausted && claims.take(lane, group)) {
        const ReadStatus status = bands.addBands(lane, claims.first(group), claims.end(group));
        if (status == ReadStatus::ReadFailed && returned != nullptr) {
            *returned = group;
            return ReadStatus::Ok;
        }
        if (status != ReadStatus::Ok) return status;
    }
    return ReadStatus::Ok;
}

// The second lane's share, run on the other thread. A group it cannot read
// (a stream that refuses calls from other threads) it leaves to the render's
// thread, and takes no more.
class SecondShare final : public LaneWork {
public:
    SecondShare(BandReader& bands, RowLane& lane, BandClaims& claims)
        : bands_(bands), lane_(lane), claims_(claims) {}

    void run() noexcept override {
        // An exception leaving a thread would end the whole process.
        try {
            status_ = addClaimedBands(bands_, lane_, claims_, &returned_);
        } catch (const std::bad_alloc&) {
            status_ = ReadStatus::TooLarge;
        } catch (...) {
            status_ = ReadStatus::ReadFailed;
        }
        if (status_ != ReadStatus::Ok) bands_.stopLanes();
    }
    void stop() noexcept override { bands_.stopLanes(); }
    ReadStatus status() const { return status_; }
    const std::optional<std::uint64_t>& returned() const { return returned_; }

private:
    BandReader& bands_;
    RowLane& lane_;
    BandClaims& claims_;
    ReadStatus status_ = ReadStatus::Ok;
    std::optional<std::uint64_t> returned_;
};

// The thread running the second share, the host's or the render's own; it is
// joined however the main share ends.
class ShareThread {
public:
    ShareThread(LaneThread* lent, SecondShare& share) : lent_(lent), share_(share) {
        if (lent_ != nullptr) {
            started_ = lent_->start(share);
            return;
        }
        try {
            own_ = std::jthread([&share] { share.run(); });
            started_ = true;
        } catch (const std::exception&) {
            // No thread to be had (none left, or no memory for one).
        }
    }
    // Left by an exception on this thread: the share is stopped, not waited out.
    ~ShareThread() {
        if (started_) share_.stop();
        static_cast<void>(join());
    }
    ShareThread(const ShareThread&) = delete;
    ShareThread& operator=(const ShareThread&) = delete;

    // False when the share ended before its run returned.
    bool join() {
        if (!started_) return finished_;
        started_ = false;
        if (lent_ != nullptr) {
            finished_ = lent_->join();
        } else {
            own_.join();
        }
        return finished_;
    }

private:
    LaneThread* lent_;
    SecondShare& share_;
    std::jthread own_;
    bool started_ = false;
    bool finished_ = true;
};

}  // namespace

ReadStatus addBandsOnTwoLanes(BandReader& bands, std::unique_ptr<RowLane>& secondLane,
                              std::uint64_t bandsPerFetch) {
    RowLane& second = *secondLane;
    RowLane& main = bands.state().main;
    const std::uint64_t height = bands.state().out.height;
    BandClaims claims(bandsPerFetch, height);
    if (!claims.plan(bands.state())) return bands.addBands(main, 0, height);
    SecondShare share(bands, second, claims);
    ReadStatus status = ReadStatus::Ok;
    bool finished = true;
    {
        // Without a thread to be had, this one takes every group.
        ShareThread thread(bands.state().options.laneThread, share);
        status = addClaimedBands(bands, main, claims);
        if (status != ReadStatus::Ok) bands.stopLanes();
        finished = thread.join();
    }
    if (finished && status == ReadStatus::Ok && share.returned()) {
        claims.visit(main, *share.returned());
        status =
            bands.addBands(main, claims.first(*share.returned()), claims.end(*share.returned()));
    }
    if (!finished) {
        // A fault on its thread left the share's lane in an unknown state: it is not touched
        // again, not even to be freed.
        static_cast<void>(secondLane.release());
        return ReadStatus::ReadFailed;
    }
    main.bytesRead += second.bytesRead;
    main.rowsRead += second.rowsRead;
    return status != ReadStatus::Ok ? status : share.status();
}

}  // namespace cv
