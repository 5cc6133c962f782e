#pragma once

#include <functional>
#include <string>
#include <vector>

namespace cvsamples {

// One generated file: its name and a function that builds its bytes, so a
// large sample is only held in memory while it is written.
struct SampleFile {
    std::string name;
    std::function<std::string()> build;
};

// FITS samples of every BITPIX with BZERO/BSCALE variants, cubes, a Bayer
// mosaic, extensions, a table, a long header and star fields. `large` adds
// the 6000 x 4000 frames that benchmarks use.
std::vector<SampleFile> fitsSamples(bool large);

}  // namespace cvsamples
