#pragma once

#include <vector>

#include "samples/fits_samples.h"

namespace cvsamples {

// XISF samples (every sample format, both byte orders, every codec with and
// without shuffling, blocks in the header, thumbnails, keywords, properties,
// a colour filter array, several images) and Vellumar projects. `large`
// adds the 6000 x 4000 frames that benchmarks use.
std::vector<SampleFile> xisfSamples(bool large);

}  // namespace cvsamples
