#pragma once

#include <cstdint>
#include <memory>

#include "core/read_status.h"
#include "render/row_reader.h"

namespace cv {

class BandReader;

// Makes `second` ready for a second thread to add bands beside this one;
// false when the render's own thread adds them all: the options say one
// thread, the host's thread for it cannot be had, the rows cannot be read
// from two threads at once, or the rows left are too few to pay for
// starting one. Where rows are read rather than lent, both lanes fetch
// `bandsPerFetch` bands at a time (set here, 1 otherwise): each fetch may
// wait for the other lane's at a source both read in turns, so a few long
// ones cost less than many short ones.
bool prepareSecondLane(const BandReader& bands, RowLane& second, std::uint64_t& bandsPerFetch);

// Two threads add the bands, `bandsPerFetch` at a time, each taking the next
// group left: a lane whose processor is taken from it leaves more to the
// other. Each writes only its groups' output rows, samples and visits, and
// reads through its own source and buffers. The second lane's bytes and rows
// are then counted with the main lane's.
// After a fault on the second lane's thread, `second` is let go of unfreed.
[[nodiscard]] ReadStatus addBandsOnTwoLanes(BandReader& bands, std::unique_ptr<RowLane>& second,
                                            std::uint64_t bandsPerFetch);

}  // namespace cv
