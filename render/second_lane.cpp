#include "render/second_lane.h"

#include <exception>
#include <new>
#include <thread>

#include "render/band_reader.h"

namespace cv {

std::uint64_t prepareSecondLane(const BandReader& bands, RowLane& second) {
    const SamplingState& s = bands.state();
    const std::uint64_t height = s.out.height;
    if (!s.options.secondThread) return height;
    const std::uint64_t visits = bands.visits();
    if (visits * s.reader.rowsPerCell() * s.planes * s.rowBytes < kMinBytesForSecondThread)
        return height;
    std::uint64_t split = 0;
    for (std::uint64_t above = 0; split < height && 2 * above < visits; ++split) {
        above += s.plan.band(split).taken - 1;
    }
    if (split >= height) return height;
    try {
        second.source = s.main.source->twin(s.bandSlots);
        if (!second.source) return height;
        second.isSecondLane = true;
        s.reader.prepare(second);
        second.rows.reserve(s.bandSlots);
        second.nextVisit = s.main.nextVisit;
    } catch (
        const std::exception&) {  // no twin or no room for its buffers: one thread adds them all
        return height;
    }
    for (std::uint64_t r = 0; r < split; ++r) {
        for (std::uint64_t pass = 1; pass < s.plan.band(r).taken; ++pass) ++second.nextVisit[pass];
    }
    return split;
}

ReadStatus addBandsOnTwoLanes(BandReader& bands, RowLane& second, std::uint64_t split) {
    RowLane& main = bands.state().main;
    const std::uint64_t height = bands.state().out.height;
    ReadStatus status = ReadStatus::Ok;
    ReadStatus secondStatus = ReadStatus::Ok;
    {
        std::jthread worker;
        try {
            worker = std::jthread([&] {
                // An exception leaving a thread would end the whole process.
                try {
                    secondStatus = bands.addBands(second, split, height);
                } catch (const std::bad_alloc&) {
                    secondStatus = ReadStatus::TooLarge;
                } catch (...) {
                    secondStatus = ReadStatus::ReadFailed;
                }
                if (secondStatus != ReadStatus::Ok) bands.stopLanes();
            });
        } catch (const std::exception&) {
            // No thread to be had (none left, or no memory for one): this one adds the second share
            // after its own.
        }
        try {
            status = bands.addBands(main, 0, split);
        } catch (...) {
            bands.stopLanes();  // so the worker is joined soon, before the exception goes on
            throw;
        }
        if (status != ReadStatus::Ok) bands.stopLanes();
        if (!worker.joinable() && status == ReadStatus::Ok && !main.exhausted) {
            secondStatus = bands.addBands(second, split, height);
        }
    }
    main.bytesRead += second.bytesRead;
    main.rowsRead += second.rowsRead;
    return status != ReadStatus::Ok ? status : secondStatus;
}

}  // namespace cv
