#pragma once

#include <cstdint>

#include "core/read_status.h"
#include "render/row_reader.h"

namespace cv {

class BandReader;

// The output row from which a second thread adds the bands, splitting the
// visits left in two, with `second` ready for it; the output height when the
// render's own thread adds them all: the options say one thread, the rows
// cannot be read from two threads at once, or the rows left are too few to
// pay for starting one.
std::uint64_t prepareSecondLane(const BandReader& bands, RowLane& second);

// A second thread adds the bands from `split` on while this one adds those
// above: each writes only its own output rows, samples and visits, and reads
// through its own source and buffers. The second lane's bytes and rows are
// then counted with the main lane's.
[[nodiscard]] ReadStatus addBandsOnTwoLanes(BandReader& bands, RowLane& second,
                                            std::uint64_t split);

}  // namespace cv
